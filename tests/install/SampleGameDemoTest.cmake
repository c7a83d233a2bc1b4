# Runs scripts/demo on an existing build (no setup, no build) and checks the verdict for OUTCOME:
#   purchase     every step passes and the payment reports status 1;
#   decline      the same with the purchase declined in the Steam overlay (status 0);
#   unreachable  no server: Init fails, the later steps are skipped, the demo exits non-zero.
# Inputs: REPO_DIR, BUILD_DIR, WORK_DIR, OUTCOME, GAME (the sample program); for a Windows build
# WINDOWS_MOCK, the Windows mock backend: the demo then plays BUILD_DIR's Windows sample game
# against it, both under wine.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

set(args --build-dir "${BUILD_DIR}" --no-build --runs-dir "${WORK_DIR}" --timeout 60 --game "${GAME}")
if(WINDOWS_MOCK)
  list(APPEND args --windows --windows-build-dir "${BUILD_DIR}" --mock "${WINDOWS_MOCK}")
endif()
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

execute_process(COMMAND bash "${REPO_DIR}/scripts/demo" ${args}
  OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE rc TIMEOUT 280)
message("${out}")
if(NOT out MATCHES "\nSUMMARY: ([0-9]+)/([0-9]+) steps passed([^\n]*)\n")
  message(FATAL_ERROR "no summary line in the sample game's output")
endif()
set(passed ${CMAKE_MATCH_1})
set(total ${CMAKE_MATCH_2})

if(OUTCOME STREQUAL "unreachable")
  # Exactly the sample game's "some step failed"; a sanitizer's exit status is another fault.
  if(NOT rc EQUAL 1)
    message(FATAL_ERROR "scripts/demo exited with '${rc}', expected 1 (a failed step)")
  endif()
  if(NOT out MATCHES "Init\\(appId[^\n]*\n[^\n]*callback: code -502")
    message(FATAL_ERROR "Init did not report the transport failure -502")
  endif()
  if(NOT passed EQUAL 2 OR NOT out MATCHES "steps passed \\(1 failed, 9 skipped\\)\n")
    message(FATAL_ERROR "expected only IsPayAvailable and Exit to pass, the rest skipped")
  endif()
  return()
endif()

if(NOT rc EQUAL 0 OR NOT passed STREQUAL total)
  message(FATAL_ERROR "scripts/demo exited with '${rc}' after ${passed} of ${total} steps passed")
endif()
if(NOT out MATCHES "expecting status ${expected_status} ")
  message(FATAL_ERROR "the sample game did not expect payment status ${expected_status}")
endif()

# The run folder holds the logs, what the backend received, and the SDK's state files, which
# ZARN_SDK_DATA_HOME put there instead of the user's data folder.
string(REGEX MATCH "demo: run folder ([^\n]+)\n" found "${out}")
set(run_dir "${CMAKE_MATCH_1}")
cmake_path(IS_PREFIX WORK_DIR "${run_dir}" inside)
if(NOT found OR NOT inside)
  message(FATAL_ERROR "the demo printed no run folder under --runs-dir ${WORK_DIR}")
endif()
foreach(file sample-game.log backend.log requests.jsonl data/ZarnSteamExeSdk/SharedConf
             data/ZarnSteamExeSdk/480/AppConf)
  if(NOT EXISTS "${run_dir}/${file}")
    message(FATAL_ERROR "${file} is missing from the run folder")
  endif()
endforeach()

# Every request passed the backend's checks; one order, and one payment result that carries
# the overlay's decision. (Semicolons would split CMake lists: they are masked first.)
file(READ "${run_dir}/requests.jsonl" recorded)
string(REPLACE ";" "," recorded "${recorded}")
string(REGEX MATCHALL "[^\n]+" records "${recorded}")
set(orders 0)
set(pay_results "")
foreach(record IN LISTS records)
  string(JSON ok GET "${record}" ok)
  string(JSON path GET "${record}" path)
  if(NOT ok)
    string(JSON reason GET "${record}" reason)
    message(FATAL_ERROR "the backend refused a request to ${path}: ${reason}")
  elseif(path MATCHES "/create_order\\.do$")
    math(EXPR orders "${orders} + 1")
  elseif(path MATCHES "/pay_result\\.do$")
    string(REGEX MATCH "\\[\"status\",\"([0-9]*)\"\\]" found "${record}")
    list(APPEND pay_results "${CMAKE_MATCH_1}")
  endif()
endforeach()
if(NOT orders EQUAL 1 OR NOT pay_results STREQUAL "${expected_status}")
  message(FATAL_ERROR "expected one order and one payment result with status ${expected_status}, "
                      "got ${orders} order(s) and payment result status(es) '${pay_results}'")
endif()
