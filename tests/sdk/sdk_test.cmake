# Installs the SDK from the build tree into a scratch prefix, builds the
# example add-on against it with find_package, and checks the result with the
# add-on contract checker.
#   cmake -DBUILD_DIR=… -DSOURCE_DIR=… -DWORK_DIR=… -DCHECKER=… -P sdk_test.cmake
foreach(v BUILD_DIR SOURCE_DIR WORK_DIR CHECKER)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "sdk_test: ${v} is not set")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(f include/tidewave/CFilter.h include/tidewave/platform/interface.h
          lib/cmake/Tidewave/TidewaveConfig.cmake lib/cmake/Tidewave/AddAddon.cmake
          share/tidewave/AddonEntry.cpp lib/tidewave/add-ons/Ziduv bin/tw-resources)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "the install lacks ${f}")
  endif()
endforeach()
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/sample-addon -B ${WORK_DIR}/example -G Ninja
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/example)
run(${CHECKER} ${WORK_DIR}/example/add-ons/Sample 0 0 "Sample Bars")
# The installed Ziduv finds the installed platform library on its own.
run(${prefix}/lib/tidewave/add-ons/Ziduv)
message(STATUS "SDK install and example add-on: ok")
