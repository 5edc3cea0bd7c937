# Checks what decides whether Windows starts the programs as users expect, on the built files:
# - every function they import is listed in IMPORTS with the oldest Windows that has it, and none
#   needs a Windows newer than OLDEST (a new import fails here until it is listed);
# - the subsystem version is at most OLDEST's, or its loader refuses the program;
# - the embedded manifest asks for no execution level, so that the programs run virtualised like
#   the Access they serve, and nothing in their names, version texts or manifest looks like an
#   installer's to the installer detection that then applies.
#
#   cmake -DOBJDUMP=... -DWINDRES=... -DIMPORTS=list.txt -DOLDEST=XP-SP3 -P check_programs.cmake
#         PROGRAM.exe...

# Windows versions from the oldest; the subsystem version each one's loader accepts at most.
set(versions 2000 XP XP-SP1 XP-SP2 XP-SP3 Vista 7 8 8.1 10 11)
set(subsystems 5.0 5.1 5.1 5.1 5.1 6.0 6.1 6.2 6.3 10.0 10.0)
list(FIND versions "${OLDEST}" oldest)
if(oldest LESS 0)
  message(FATAL_ERROR "OLDEST=${OLDEST} is none of: ${versions}")
endif()
list(GET subsystems ${oldest} subsystem_limit)

set(problems "")
macro(problem text)
  string(APPEND problems "\n  ${text}")
endmacro()

# The list: "DLL FUNCTION WINDOWS" per line, # starts a comment.
file(STRINGS "${IMPORTS}" lines)
set(listed "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "#.*" "" line "${line}")
  string(STRIP "${line}" line)
  if(line STREQUAL "")
    continue()
  endif()
  if(NOT line MATCHES "^([^ \t]+)[ \t]+([^ \t]+)[ \t]+([^ \t]+)$")
    problem("${IMPORTS}: not \"DLL FUNCTION WINDOWS\": ${line}")
    continue()
  endif()
  string(TOUPPER "${CMAKE_MATCH_1}" dll)
  set(function "${CMAKE_MATCH_2}")
  list(FIND versions "${CMAKE_MATCH_3}" since)
  if(since LESS 0)
    problem("${IMPORTS}: ${dll} ${function}: unknown Windows \"${CMAKE_MATCH_3}\"")
  endif()
  set("since_${dll}_${function}" ${since})
endforeach()

# Arguments after -P script: the programs.
set(programs "")
foreach(i RANGE ${CMAKE_ARGC})
  if(i GREATER 0 AND "${CMAKE_ARGV${i}}" MATCHES "\\.exe$")
    list(APPEND programs "${CMAKE_ARGV${i}}")
  endif()
endforeach()
if(NOT programs)
  message(FATAL_ERROR "no program to check")
endif()

foreach(program IN LISTS programs)
  get_filename_component(name "${program}" NAME)
  execute_process(COMMAND "${OBJDUMP}" -p "${program}" OUTPUT_VARIABLE headers
                  RESULT_VARIABLE failed)
  if(failed)
    problem("${name}: ${OBJDUMP} cannot read it")
    continue()
  endif()
  string(REGEX MATCH "MajorSubsystemVersion\t([0-9]+)\nMinorSubsystemVersion\t([0-9]+)" _
               "${headers}")
  if(NOT CMAKE_MATCH_0 OR "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}" VERSION_GREATER subsystem_limit)
    problem("${name}: subsystem version ${CMAKE_MATCH_1}.${CMAKE_MATCH_2}, but Windows ${OLDEST} loads ${subsystem_limit} at most")
  endif()

  string(REPLACE "\n" ";" header_lines "${headers}")
  set(dll "")
  set(count 0)
  foreach(line IN LISTS header_lines)
    if(line MATCHES "^\tDLL Name: (.+)$")
      string(TOUPPER "${CMAKE_MATCH_1}" dll)
    elseif(dll AND line MATCHES "^\t[0-9a-f]+\t +([0-9]+) +(.+)$")
      # By name, or by number where objdump shows no name.
      set(function "${CMAKE_MATCH_2}")
      if(function MATCHES "^<none>")
        set(function "#${CMAKE_MATCH_1}")
      endif()
      math(EXPR count "${count} + 1")
      if(NOT DEFINED "since_${dll}_${function}")
        problem("${name}: imports ${dll} ${function}, which ${IMPORTS} does not list (add it with the oldest Windows that has it)")
      elseif(since_${dll}_${function} GREATER oldest)
        list(GET versions ${since_${dll}_${function}} needs)
        problem("${name}: imports ${dll} ${function}, which Windows ${OLDEST} lacks (from ${needs} on)")
      endif()
    elseif(line MATCHES "^$|^The Function Table|^PE File Base Relocations")
      set(dll "")
    endif()
  endforeach()
  if(count EQUAL 0)
    problem("${name}: no import found; objdump's output has changed")
  endif()

  execute_process(COMMAND "${WINDRES}" -i "${program}" -O rc OUTPUT_VARIABLE resources
                  RESULT_VARIABLE failed)
  string(REGEX MATCHALL "VALUE \"[A-Za-z]+\", \"[^\"]*\"" texts "${resources}")
  string(REGEX MATCH "<assembly.*</assembly>" manifest "${resources}")
  if(failed OR NOT texts OR NOT manifest)
    problem("${name}: no version texts or manifest found in its resources")
  endif()
  string(REGEX REPLACE "<!--([^-]|-[^-])*-->" "" elements "${manifest}")
  if(elements MATCHES "requestedExecutionLevel")
    problem("${name}: its manifest asks for an execution level, which switches virtualisation off")
  endif()
  if(NOT elements MATCHES "Microsoft.Windows.Common-Controls" OR NOT elements MATCHES "dpiAware")
    problem("${name}: its manifest lacks the common controls or the dpi awareness")
  endif()
  # The comments too: what the detection reads of a manifest is not documented.
  string(TOLOWER "${name};${texts};${manifest}" words)
  foreach(keyword install setup update patch)
    if(words MATCHES "${keyword}")
      problem("${name}: \"${keyword}\" in its name, version texts or manifest looks like an installer's")
    endif()
  endforeach()
endforeach()

if(problems)
  message(FATAL_ERROR "The programs would not start as they should on Windows ${OLDEST} and later:${problems}")
endif()
