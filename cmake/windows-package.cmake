# The Windows program as users get it: a zip with both executables and the German read-me,
# which holds them in one folder. Built with `cpack` (or the target `package`) in build-win32/.
install(TARGETS tarnu-system-tool tarnu-system-tool-cli RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/platform/win32/package/LIESMICH.txt DESTINATION .)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(windows_flavour win64)
else()
  set(windows_flavour win32)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tarnu-system-tool)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Tarnu)
set(CPACK_PACKAGE_FILE_NAME tarnu-system-tool-${PROJECT_VERSION}-${windows_flavour})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# The debug information stays in the build; the zip gets the lean programs.
set(CPACK_STRIP_FILES ON)
include(CPack)
