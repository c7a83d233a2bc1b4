# Runs scripts/demo on an existing build (no package setup, no build) and checks the sample
# game's verdict for OUTCOME:
#   purchase     every step passes, the payment reports status 1, the backend saw the events;
#   decline      the same with the purchase declined in the Steam overlay (status 0);
#   unreachable  nothing listens at the API origin: Init fails, the later steps are skipped
#                rather than waited for, and the demo exits non-zero.
# Inputs: REPO_DIR, BUILD_DIR, WORK_DIR, OUTCOME.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

set(args --build-dir "${BUILD_DIR}" --no-build --runs-dir "${WORK_DIR}" --timeout 60)
if(OUTCOME STREQUAL "purchase")
  set(expected_status 1)
elseif(OUTCOME STREQUAL "decline")
  list(APPEND args --decline)
  set(expected_status 0)
elseif(OUTCOME STREQUAL "unreachable")
  # Port 1 on loopback: refused at once, no mock backend started.
  list(APPEND args --origin "https://127.0.0.1:1")
else()
  message(FATAL_ERROR "OUTCOME must be purchase, decline or unreachable, not '${OUTCOME}'")
endif()

execute_process(
  COMMAND bash "${REPO_DIR}/scripts/demo" ${args}
  OUTPUT_VARIABLE out
  ERROR_VARIABLE out
  RESULT_VARIABLE rc
  TIMEOUT 280)
message("${out}")

if(NOT out MATCHES "\nSUMMARY: ([0-9]+)/([0-9]+) steps passed([^\n]*)\n")
  message(FATAL_ERROR "no summary line in the sample game's output")
endif()
set(passed ${CMAKE_MATCH_1})
set(total ${CMAKE_MATCH_2})
set(tail "${CMAKE_MATCH_3}")

if(OUTCOME STREQUAL "unreachable")
  if(rc EQUAL 0)
    message(FATAL_ERROR "scripts/demo exited 0 although the API server cannot be reached")
  endif()
  if(NOT out MATCHES "Init\\(appId[^\n]*\n[^\n]*callback: code -502")
    message(FATAL_ERROR "Init did not report the transport failure -502")
  endif()
  if(NOT passed EQUAL 2 OR NOT tail STREQUAL " (1 failed, 9 skipped)")
    message(FATAL_ERROR "expected only IsPayAvailable and Exit to pass, the rest skipped")
  endif()
  return()
endif()

if(NOT rc EQUAL 0)
  message(FATAL_ERROR "scripts/demo exited with '${rc}', expected 0")
endif()
if(NOT passed STREQUAL total)
  message(FATAL_ERROR "only ${passed} of ${total} steps passed")
endif()
if(NOT out MATCHES "expecting status ${expected_status} ")
  message(FATAL_ERROR "the sample game did not expect payment status ${expected_status}")
endif()

# The run folder the demo printed holds what the backend recorded and the SDK's log file.
if(NOT out MATCHES "demo: run folder ([^\n]+)\n")
  message(FATAL_ERROR "the demo did not print its run folder")
endif()
set(run_dir "${CMAKE_MATCH_1}")
cmake_path(IS_PREFIX WORK_DIR "${run_dir}" inside)
if(NOT inside)
  message(FATAL_ERROR "run folder ${run_dir} is not under --runs-dir ${WORK_DIR}")
endif()
if(NOT EXISTS "${run_dir}/requests.jsonl")
  message(FATAL_ERROR "the mock backend recorded nothing in ${run_dir}/requests.jsonl")
endif()
file(READ "${run_dir}/requests.jsonl" recorded)
foreach(event qzk_startup qzk_login qzk_self_tutorial_finished qzk_user_create qzk_level_achieved)
  string(FIND "${recorded}" "${event}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the backend never received the event ${event}")
  endif()
endforeach()
foreach(file sample-game.log backend.log)
  if(NOT EXISTS "${run_dir}/${file}")
    message(FATAL_ERROR "${file} is missing from the run folder")
  endif()
endforeach()
