# Installs the build into a fresh prefix, then configures, builds and runs the separate project
# in CONSUMER_DIR, which finds the SDK with find_package(ZarnSdk) and links ZarnSdk::zarnsdk64_mt
# as a game's build would. Its programs must load the installed libraries, not the build tree's,
# and the header-only one must import C functions of the SDK only.
# Inputs: BUILD_DIR, CONSUMER_DIR, WORK_DIR, GENERATOR, CXX_COMPILER, BUILD_TYPE, SANITIZE, NM (ELF)
# or OBJDUMP (PE) to read import tables; cross builds also TOOLCHAIN, WINDOWS_DEPS and EMULATOR.
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
  "-DCMAKE_PREFIX_PATH=${prefix}" "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}" "-DCMAKE_BUILD_TYPE=${BUILD_TYPE}")
if(TOOLCHAIN)
  # The toolchain looks for packages under its own root folders only: the package is named.
  list(APPEND configure "-DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}" "-DZARN_WINDOWS_DEPS=${WINDOWS_DEPS}"
    "-DZarnSdk_DIR=${prefix}/lib/cmake/ZarnSdk")
endif()
# The consumer shares the sanitizer of the libraries it loads.
set(flags_thread -fsanitize=thread)
set(flags_address -fsanitize=address,undefined)
if(SANITIZE)
  list(APPEND configure "-DCMAKE_CXX_FLAGS=${flags_${SANITIZE}}" "-DCMAKE_EXE_LINKER_FLAGS=${flags_${SANITIZE}}")
endif()
run_step("configuring the consumer" ${configure})
run_step("building the consumer" ${CMAKE_COMMAND} --build "${WORK_DIR}/consumer-build")

# Windows looks for DLLs beside the program, then along the path: the prefix's bin is put there.
if(EMULATOR)
  set(ENV{WINEPATH} "${prefix}/bin")
elseif(CMAKE_HOST_WIN32)
  set(ENV{PATH} "${prefix}/bin;$ENV{PATH}")
endif()
file(REAL_PATH "${prefix}" real_prefix)
if(NM)
  file(GLOB library "${prefix}/lib*/libzarnsdk64_mt.so")
  execute_process(COMMAND ${NM} -D --defined-only ${library} OUTPUT_VARIABLE defined)
  string(REGEX MATCHALL "[^ \n]+\n" defined "${defined}")  # the last word of each line
  list(TRANSFORM defined STRIP)
  list(JOIN defined "|" defined)
endif()

foreach(program zarn-sdk-consumer zarn-sdk-consumer-header-only)
  unset(exe)  # find_program keeps a value it already has
  find_program(exe NAMES ${program} ${program}.exe PATHS "${WORK_DIR}/consumer-build" NO_DEFAULT_PATH NO_CACHE REQUIRED)
  run_step("running ${program}" ${EMULATOR} "${exe}")
  message("${step_output}")
  if(NOT step_output MATCHES "consumer: ok")
    message(FATAL_ERROR "${program} did not report success")
  endif()

  # Both Zarn libraries it loaded come from the install prefix (wine reports Windows paths).
  string(REGEX MATCHALL "loaded: [^\n]*(zarnsdk64_mt|steam_api64)\\.(so|dll)" loaded "${step_output}")
  list(TRANSFORM loaded REPLACE "^loaded: " "")
  list(LENGTH loaded count)
  if(EMULATOR AND count EQUAL 2)
    run_step("winepath" ${EMULATOR} winepath -u ${loaded})
    string(REGEX MATCHALL "[^\r\n]+" loaded "${step_output}")
  endif()
  if(NOT count EQUAL 2)
    message(FATAL_ERROR "expected the SDK and the Steam client library among the loaded libraries, got: ${loaded}")
  endif()
  foreach(path IN LISTS loaded)
    file(REAL_PATH "${path}" path)
    cmake_path(IS_PREFIX real_prefix "${path}" inside)
    if(NOT inside)
      message(FATAL_ERROR "${program} loaded ${path}, outside the install prefix ${real_prefix}")
    endif()
  endforeach()

  # What it takes from the SDK's library: its undefined symbols the library defines (ELF), or
  # its import table's entries for zarnsdk64_mt.dll (PE).
  if(NM)
    execute_process(COMMAND ${NM} -D --undefined-only "${exe}" OUTPUT_VARIABLE wanted)
    string(REGEX MATCHALL "[^ \n]+\n" imports "${wanted}")
    list(TRANSFORM imports STRIP)
    list(FILTER imports INCLUDE REGEX "^(${defined})$")
  elseif(OBJDUMP)
    execute_process(COMMAND ${OBJDUMP} -p "${exe}" OUTPUT_VARIABLE dump)
    string(REGEX MATCH "DLL Name: zarnsdk64_mt\\.dll\n[^\n]*\n(([^\n]+\n)*)" ignored "${dump}")
    string(REGEX MATCHALL "[^ \t\n]+\n" imports "${CMAKE_MATCH_1}")
  else()
    continue()
  endif()
  list(TRANSFORM imports STRIP)
  set(cpp ${imports})
  list(FILTER cpp EXCLUDE REGEX "^zarn_")
  # The plain program takes C++ functions too, which shows that the reading sees them.
  if(NOT imports OR (program MATCHES "header-only" AND cpp) OR (NOT program MATCHES "header-only" AND NOT cpp))
    message(FATAL_ERROR "${program} takes these functions from the SDK: '${imports}'; C++ ones: '${cpp}'")
  endif()
  message(STATUS "${program} imports from the SDK: ${imports}")
endforeach()
