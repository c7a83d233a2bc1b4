# Installs the build into a fresh prefix, then configures, builds and runs the separate project
# in CONSUMER_DIR, which finds the SDK with find_package(ZarnSdk) and links
# ZarnSdk::zarnsdk64_mt as a game's build would. The consumer must load the installed libraries,
# not the build tree's.
# Inputs: BUILD_DIR, CONSUMER_DIR, WORK_DIR, GENERATOR, CXX_COMPILER, BUILD_TYPE, SANITIZE.
cmake_minimum_required(VERSION 3.25)

# Runs in WORK_DIR, which also catches the log file the SDK creates in the working directory.
function(run_step what)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${WORK_DIR}"
    OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE rc TIMEOUT 240)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}")
  endif()
  set(step_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
run_step("cmake --install" ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")

set(configure ${CMAKE_COMMAND} -S "${CONSUMER_DIR}" -B "${WORK_DIR}/consumer-build" -G "${GENERATOR}"
  "-DCMAKE_PREFIX_PATH=${prefix}" "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}")
if(BUILD_TYPE)
  list(APPEND configure "-DCMAKE_BUILD_TYPE=${BUILD_TYPE}")
endif()
# The consumer shares the sanitizer of the libraries it loads.
set(flags_thread -fsanitize=thread)
set(flags_address -fsanitize=address,undefined)
if(SANITIZE)
  list(APPEND configure "-DCMAKE_CXX_FLAGS=${flags_${SANITIZE}}" "-DCMAKE_EXE_LINKER_FLAGS=${flags_${SANITIZE}}")
endif()
run_step("configuring the consumer" ${configure})
run_step("building the consumer" ${CMAKE_COMMAND} --build "${WORK_DIR}/consumer-build")
find_program(consumer zarn-sdk-consumer PATHS "${WORK_DIR}/consumer-build" NO_DEFAULT_PATH REQUIRED)
run_step("running the consumer" "${consumer}")
message("${step_output}")
if(NOT step_output MATCHES "consumer: ok")
  message(FATAL_ERROR "the consumer did not report success")
endif()

# Both Zarn libraries the consumer loaded must come from the install prefix.
string(REGEX MATCHALL "loaded: [^\n]*lib(zarnsdk64_mt|steam_api64)\\.so[^\n]*" loaded "${step_output}")
list(LENGTH loaded count)
if(NOT count EQUAL 2)
  message(FATAL_ERROR "expected the SDK and the Steam client library among the loaded objects, got: ${loaded}")
endif()
file(REAL_PATH "${prefix}" real_prefix)
foreach(line IN LISTS loaded)
  string(REGEX REPLACE "^loaded: " "" path "${line}")
  file(REAL_PATH "${path}" path)
  cmake_path(IS_PREFIX real_prefix "${path}" inside)
  if(NOT inside)
    message(FATAL_ERROR "the consumer loaded ${path}, outside the install prefix ${real_prefix}")
  endif()
endforeach()
