# Runs the table generator on the committed data file and fails unless its output is
# byte for byte the committed source.
execute_process(
  COMMAND ${PYTHON} ${SOURCE_DIR}/tools/generate_isbn_table.py ${SOURCE_DIR}/data/isbn-ranges.txt ${OUTPUT}
          --expect-groups 250 --expect-rows 1305
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the generator failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT} ${SOURCE_DIR}/src/isbn_range_data.cpp
  RESULT_VARIABLE differs)
if(NOT differs EQUAL 0)
  message(FATAL_ERROR "src/isbn_range_data.cpp is not what tools/generate_isbn_table.py makes of data/isbn-ranges.txt")
endif()
