# cmake -DPROGRAM=tarvic -DVERSION=1.2.3.4 -P this
# Each case: the display setting ("none", or a DISPLAY value), the argument, the exit
# status, and patterns for the whole standard output and standard error.
set(failed "")
function(check display argument status out_pattern err_pattern)
  # env(1), not cmake -E env: that one reports a child killed by a signal as status 1.
  set(environment -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
  if(NOT display STREQUAL "none")
    list(APPEND environment DISPLAY=${display})
  endif()
  execute_process(
    COMMAND env ${environment} ${PROGRAM} ${argument}
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc TIMEOUT 20)
  if(NOT rc STREQUAL status OR NOT out MATCHES "${out_pattern}" OR NOT err MATCHES "${err_pattern}")
    set(failed "${failed}\n[display ${display}] tarvic ${argument}: status ${rc} (want ${status})\n  output: ${out}\n  error: ${err}" PARENT_SCOPE)
  endif()
endfunction()

set(one_line "[^\n]*\n$")
check(none --version 0 "^tarvic ${VERSION}\n$" "^$")
check(none --help 0 "^Usage: tarvic .*--version.*--help" "^$")
check(none "" 1 "^$" "^tarvic: no display ${one_line}")
# A display nobody serves.
check(:4242 "" 1 "^$" "^tarvic: cannot open the display \\(DISPLAY=:4242\\): ${one_line}")
check(:4242 --version 0 "^tarvic ${VERSION}\n$" "^$")
if(failed)
  message(FATAL_ERROR "${failed}")
endif()
