# The Debian package of the Linux program: the program and its two tools under /usr, the desktop
# entry and icon, and the nightly compaction's units, which stay disabled until an administrator
# enables the timer. Built with `cpack` in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnu-system-tool)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Tarnu)
set(CPACK_PACKAGE_CONTACT "Tarnu-Wartung <wartung@tarnu.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Wartungswerkzeug für Tarnu-Arbeitsplätze")
# Debian shows the description on 80-column terminals: no line may be longer.
set(CPACK_PACKAGE_DESCRIPTION
    "Komprimiert die Datenbanken des Tarnu-Programmordners, kopiert die
Programmdateien auf den Arbeitsplatz und schaltet die Sicherheitswarnung von
Access 2003 aus; mit Fenster oder unbeaufsichtigt von der Befehlszeile, auch
jede Nacht als systemd-Dienst. Der Programmordner ist /opt/tarnu.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt finds its window-system plugins and its German texts at run time, so no library names them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-translations-l10n")
include(CPack)
