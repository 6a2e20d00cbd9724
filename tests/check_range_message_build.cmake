# Builds orvane from a RangeMessage.xml export (-DORVANE_RANGE_MESSAGE) and checks it with
# range_exports.py: the numbers of every rule come out as the export says, and exactly as
# orvane --ranges=EXPORT writes them.
# With -DBUILD=OFF only orvane --ranges=EXPORT is checked.
if(NOT BUILD)
  execute_process(COMMAND ${PYTHON} ${SOURCE_DIR}/tests/range_exports.py ${DEFAULT_ORVANE} ${EXPORT}
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "orvane --ranges disagrees with ${EXPORT}")
  endif()
  return()
endif()
get_filename_component(name ${EXPORT} NAME_WE)
set(build ${BINARY_DIR}/range-message-build-${name})
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${build} -DCMAKE_BUILD_TYPE=Release
          -DORVANE_RANGE_MESSAGE=${EXPORT} -DORVANE_TESTS=OFF
  RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "configuring the build from ${EXPORT} failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${build} --target orvane RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "building orvane from ${EXPORT} failed")
endif()
execute_process(COMMAND ${PYTHON} ${SOURCE_DIR}/tests/range_exports.py ${DEFAULT_ORVANE} ${EXPORT} ${build}/orvane
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the build from ${EXPORT} and orvane --ranges disagree with the export")
endif()
