# SPDX-License-Identifier: MIT
# Installs the built project into a scratch prefix, then configures, builds
# and runs a consumer that knows only find_package(corvane).
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${WORK_DIR}/prefix
    RESULT_VARIABLE result OUTPUT_QUIET)
if(result)
    message(FATAL_ERROR "install failed: ${result}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/install_consumer -B ${WORK_DIR}/build
    -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}"
    RESULT_VARIABLE result OUTPUT_QUIET)
if(result)
    message(FATAL_ERROR "consumer configure failed: ${result}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build RESULT_VARIABLE result)
if(result)
    message(FATAL_ERROR "consumer build failed: ${result}")
endif()
execute_process(COMMAND ${WORK_DIR}/build/consumer RESULT_VARIABLE result)
if(result)
    message(FATAL_ERROR "consumer run failed: ${result}")
endif()
if(NOT EXISTS ${WORK_DIR}/prefix/lib/pkgconfig/corvane.pc AND NOT EXISTS ${WORK_DIR}/prefix/lib/x86_64-linux-gnu/pkgconfig/corvane.pc)
    message(FATAL_ERROR "corvane.pc not installed")
endif()
if(CMAKE_HOST_SYSTEM_NAME STREQUAL "Linux" AND NOT EXISTS ${WORK_DIR}/prefix/lib/udev/rules.d/70-corvane.rules)
    message(FATAL_ERROR "udev rules not installed")
endif()
