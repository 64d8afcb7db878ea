# cmake -DPYTHON= -DSCRIPT= -DCOMMITTED= -DOUT= -P check_icon.cmake
execute_process(COMMAND ${PYTHON} ${SCRIPT} ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${SCRIPT} failed (${rc})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT} ${COMMITTED} RESULT_VARIABLE diff)
if(NOT diff EQUAL 0)
  message(FATAL_ERROR "${COMMITTED} differs from what ${SCRIPT} draws; run the script and commit the .ico")
endif()
