# Builds orvane from the test RangeMessage.xml and checks that it hyphenates an ISBN of group
# 9969, which the committed edition does not have, while the default build leaves it bare.
set(build ${BINARY_DIR}/range-message-build)
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${build} -DCMAKE_BUILD_TYPE=Release
          -DORVANE_RANGE_MESSAGE=${SOURCE_DIR}/tests/fixtures/RangeMessage.xml -DORVANE_TESTS=OFF
  RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "configuring the build from RangeMessage.xml failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${build} --target orvane RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "building orvane from RangeMessage.xml failed")
endif()
execute_process(COMMAND ${build}/orvane 9789969500127 9969500120 9780612000018 OUTPUT_VARIABLE fresh)
execute_process(COMMAND ${DEFAULT_ORVANE} 9789969500127 9969500120 OUTPUT_VARIABLE built_in)
if(NOT fresh STREQUAL "978-9969-500-12-7 9969-500-12-0 978-0-612-00001-8\n")
  message(FATAL_ERROR "the build from RangeMessage.xml wrote: ${fresh}")
endif()
if(NOT built_in STREQUAL "9789969500127 9969500120\n")
  message(FATAL_ERROR "the default build wrote: ${built_in}")
endif()
