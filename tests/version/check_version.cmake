# cmake -DVERSION=1.2.3.4 -DPROGRAMS=a,b -DHEADER=version.h [-DWINDRES=... -DRC=...] -P this
string(REPLACE "," ";" programs "${PROGRAMS}")
foreach(program ${programs})
  get_filename_component(name ${program} NAME)
  execute_process(COMMAND ${program} --version OUTPUT_VARIABLE said RESULT_VARIABLE rc
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0 OR NOT said STREQUAL "${name} ${VERSION}")
    message(FATAL_ERROR "${name} --version said \"${said}\" (status ${rc}); the project is ${VERSION}")
  endif()
endforeach()

# Read the numbers again here, independently of the project's own reading.
file(READ ${HEADER} header)
set(numbers "")
foreach(part MAJOR MINOR PATCH TWEAK)
  if(NOT header MATCHES "#define TARVIC_VERSION_${part} ([0-9]+)")
    message(FATAL_ERROR "${HEADER} has no TARVIC_VERSION_${part}")
  endif()
  list(APPEND numbers ${CMAKE_MATCH_1})
endforeach()
list(JOIN numbers "." dotted)
if(NOT dotted STREQUAL VERSION)
  message(FATAL_ERROR "${HEADER} says ${dotted}; the project is ${VERSION}")
endif()

if(WINDRES)
  # The version block as the resource compiler builds it, decompiled again.
  get_filename_component(rcdir ${RC} DIRECTORY)
  execute_process(COMMAND ${WINDRES} -i ${RC} -O rc WORKING_DIRECTORY ${rcdir}
    OUTPUT_VARIABLE block RESULT_VARIABLE rc)
  list(JOIN numbers ", " commas)
  foreach(line "FILEVERSION ${commas}" "PRODUCTVERSION ${commas}"
               "VALUE \"FileVersion\", \"${commas}\"" "VALUE \"ProductVersion\", \"${commas}\"")
    string(FIND "${block}" "${line}" at)
    if(NOT rc EQUAL 0 OR at EQUAL -1)
      message(FATAL_ERROR "the version block of ${RC} lacks ${line} (windres status ${rc}):\n${block}")
    endif()
  endforeach()
  message(STATUS "version block: ${commas}")
endif()
message(STATUS "every version is ${VERSION}")
