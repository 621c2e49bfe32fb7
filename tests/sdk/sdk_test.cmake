# Installs the SDK from the build tree into a scratch prefix, checks that it
# carries the add-ons' API and nothing of the host's, builds the example
# add-on against it with find_package, checks the result with the add-on
# contract checker, and checks that the kit ABI agrees everywhere it is
# written: the installed header, the package version, the example's stamp.
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
foreach(f include/tidewave/CFilter.h include/tidewave/FilterKit.h include/tidewave/AddonAbi.h
          include/tidewave/platform/interface.h
          lib/cmake/Tidewave/TidewaveConfig.cmake lib/cmake/Tidewave/AddAddon.cmake
          share/tidewave/AddonEntry.cpp share/doc/Tidewave/host.md lib/tidewave/add-ons/Ziduv bin/tw-resources)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "the install lacks ${f}")
  endif()
endforeach()
# The headers an author sees hold no host-only calls and no test hooks.
file(GLOB_RECURSE headers ${prefix}/include/tidewave/*.h)
foreach(h ${headers})
  file(READ ${h} text)
  foreach(hidden tw_set_modifiers tw_threads_running tw_fail_next_spawns tw_set_translate_hook tw_png_peak_bytes
                 tw_set_translator_pixel_cap tw_read_resources TwResource)
    string(FIND "${text}" "${hidden}" at)
    if(NOT at EQUAL -1)
      message(FATAL_ERROR "the installed ${h} declares ${hidden}, which is not for add-ons")
    endif()
  endforeach()
endforeach()

# The kit ABI of the installed header is the package's major version.
file(STRINGS ${prefix}/include/tidewave/AddonAbi.h abi_line REGEX "^#define TW_KIT_ABI [0-9]+$")
string(REGEX REPLACE "^#define TW_KIT_ABI ([0-9]+)$" "\\1" abi "${abi_line}")
if(NOT abi MATCHES "^[0-9]+$")
  message(FATAL_ERROR "the installed AddonAbi.h defines no TW_KIT_ABI")
endif()
set(PACKAGE_FIND_VERSION ${abi})
set(PACKAGE_FIND_VERSION_MAJOR ${abi})
include(${prefix}/lib/cmake/Tidewave/TidewaveConfigVersion.cmake)
if(NOT PACKAGE_VERSION MATCHES "^${abi}\\." OR NOT PACKAGE_VERSION_COMPATIBLE)
  message(FATAL_ERROR "package version ${PACKAGE_VERSION} does not carry kit ABI ${abi}")
endif()
math(EXPR next "${abi} + 1")
set(PACKAGE_FIND_VERSION ${next})
set(PACKAGE_FIND_VERSION_MAJOR ${next})
include(${prefix}/lib/cmake/Tidewave/TidewaveConfigVersion.cmake)
if(PACKAGE_VERSION_COMPATIBLE)
  message(FATAL_ERROR "package version ${PACKAGE_VERSION} claims to serve kit ABI ${next}")
endif()

run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/sample-addon -B ${WORK_DIR}/example -G Ninja
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/example)
run(${CHECKER} ${WORK_DIR}/example/add-ons/Sample 0 0 "Sample Bars")
# The example's stamp (its resource, the last copy of the magic in the file)
# names the same kit ABI: the 32-bit number after the 8-byte magic.
file(READ ${WORK_DIR}/example/add-ons/Sample hex HEX)
string(FIND "${hex}" "5457414249000001" at REVERSE)
if(at EQUAL -1)
  message(FATAL_ERROR "the example add-on carries no ABI stamp")
endif()
math(EXPR at "${at} + 16")
string(SUBSTRING "${hex}" ${at} 8 le)
string(REGEX REPLACE "^(..)(..)(..)(..)$" "\\4\\3\\2\\1" be "${le}")
math(EXPR stamped "0x${be}")
if(NOT stamped EQUAL abi)
  message(FATAL_ERROR "the example add-on is stamped with kit ABI ${stamped}, the SDK says ${abi}")
endif()
# The installed Ziduv finds the installed platform library on its own.
run(${prefix}/lib/tidewave/add-ons/Ziduv)
message(STATUS "SDK install and example add-on: ok")
