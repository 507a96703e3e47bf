# cmake -DRUN=wine-run.sh,PREFIX -DPROGRAM=tarvic.exe -DVERSION=1.2.3.4 -P this
# tarvic.exe's --version and --help under Wine: the text on the standard output that was
# handed over, status 0, and no window waiting to be closed (the timeout would see one).
# (execute_process gives Windows line ends as plain newlines.)
string(REPLACE "," ";" run "${RUN}")
set(failed "")
function(check argument out_pattern)
  execute_process(COMMAND bash ${run} ${PROGRAM} ${argument}
    OUTPUT_VARIABLE out RESULT_VARIABLE rc TIMEOUT 60)
  if(NOT rc STREQUAL 0 OR NOT out MATCHES "${out_pattern}")
    set(failed "${failed}\ntarvic.exe ${argument}: status ${rc} (want 0)\n  output: ${out}" PARENT_SCOPE)
  endif()
endfunction()
check(--version "^tarvic ${VERSION}\n$")
check(--help "^Usage: tarvic.exe .*\n  --version .*\n  --help .*%LOCALAPPDATA%")
if(failed)
  message(FATAL_ERROR "${failed}")
endif()
