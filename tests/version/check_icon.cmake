# cmake -DPYTHON=python3 -DSCRIPT=make_icon.py -DICO=tarvic.ico -DOUT=drawn.ico -P this
execute_process(COMMAND ${PYTHON} ${SCRIPT} --ico ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${SCRIPT} failed with status ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT} ${ICO} RESULT_VARIABLE differ)
if(differ)
  message(FATAL_ERROR "${ICO} is not what ${SCRIPT} draws: run it again in its folder")
endif()
