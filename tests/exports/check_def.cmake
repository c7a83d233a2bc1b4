cmake_minimum_required(VERSION 3.25)
# Compiles the public headers' declarations for the MSVC target, with a minimal standard
# library shaped like Microsoft's (char_traits a struct; allocator and basic_string classes), and
# compares the export names the compiler emits with the .def file that MSVC builds export by:
# the same names, C++ functions at ordinals 1.. in order of their decorated names, then the C
# functions in the order they were published. With -DTAMPER=ON one .def entry is changed first: the check
# must then fail (a check that cannot fail checks nothing).
# Inputs: INCLUDE_DIR, DEF_FILE, WORK_DIR, CLANG, NM.
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}/std")
file(WRITE "${WORK_DIR}/std/string" [=[
namespace std {
template <class E> struct char_traits {};
template <class T> class allocator {};
template <class E, class Traits = char_traits<E>, class Alloc = allocator<E>> class basic_string {};
using wstring = basic_string<wchar_t>;
}
]=])

file(READ "${INCLUDE_DIR}/ZarnProxy.h" cpp_header)
file(READ "${INCLUDE_DIR}/zarnsdk.h" c_header)
string(REGEX MATCHALL "ZARN_API [^(;]* ([A-Za-z]+)\\(" cpp_decls "${cpp_header}")
string(REGEX MATCHALL "ZARN_C_API [^(;]*[ *](zarn_[a-z_]+)\\(" c_decls "${c_header}")
set(addresses "")
foreach(decl IN LISTS cpp_decls)
  string(REGEX REPLACE ".* ([A-Za-z]+)\\($" "\\1" name "${decl}")
  string(APPEND addresses "  (void*)&ZarnProxy::${name},\n")
endforeach()
foreach(decl IN LISTS c_decls)
  string(REGEX REPLACE ".*[ *](zarn_[a-z_]+)\\($" "\\1" name "${decl}")
  string(APPEND addresses "  (void*)&${name},\n")
endforeach()
file(WRITE "${WORK_DIR}/probe.cpp" "#include \"ZarnProxy.h\"\n#include \"zarnsdk.h\"\n"
  "extern void* const exported[];\nvoid* const exported[] = {\n${addresses}};\n")

execute_process(
  COMMAND ${CLANG} --target=x86_64-pc-windows-msvc -std=c++17 -nostdinc++ -isystem ${WORK_DIR}/std
          -I ${INCLUDE_DIR} -c ${WORK_DIR}/probe.cpp -o ${WORK_DIR}/probe.obj
  RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  # The tampered run must fail for its tampering only: anything else makes it pass, so that
  # its WILL_FAIL turns red.
  if(TAMPER)
    message(STATUS "compiling the headers failed, so the tampering proves nothing:\n${err}")
    return()
  endif()
  message(FATAL_ERROR "compiling the headers for the MSVC target failed:\n${err}")
endif()
execute_process(COMMAND ${NM} ${WORK_DIR}/probe.obj OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed")
endif()
string(REGEX MATCHALL "U __imp_[^\n]+" imports "${symbols}")
set(cpp_names "")
set(c_names "")
foreach(import IN LISTS imports)
  string(REPLACE "U __imp_" "" name "${import}")
  if(name MATCHES "^\\?")
    list(APPEND cpp_names "${name}")
  else()
    list(APPEND c_names "${name}")
  endif()
endforeach()
# A game linked by ordinal keeps working only if a published ordinal never moves: the first
# release's C functions in alphabetical order, then each later one at the end (add it here and
# in the .def).
set(published_c zarn_call_pay zarn_exit zarn_init zarn_is_pay_available zarn_login zarn_logout zarn_post_event
  zarn_query_products zarn_set_game_user_id zarn_set_level zarn_set_nick_name zarn_set_server_id zarn_version
  zarn_set_log_handler)
set(sorted_published ${published_c})
list(SORT sorted_published)
list(SORT cpp_names)
list(SORT c_names)
if(NOT c_names STREQUAL sorted_published)
  string(CONCAT mismatch "the C functions of zarnsdk.h (${c_names}) are not the published ones (${published_c}): append a "
    "new one to published_c in ${CMAKE_CURRENT_LIST_FILE}; never remove one")
  if(TAMPER)
    message(STATUS "${mismatch}; so the tampering proves nothing")
    return()
  endif()
  message(FATAL_ERROR "${mismatch}")
endif()
set(expected "")
set(ordinal 1)
foreach(name IN LISTS cpp_names published_c)
  list(APPEND expected "${name} @${ordinal}")
  math(EXPR ordinal "${ordinal} + 1")
endforeach()

file(STRINGS "${DEF_FILE}" def_lines REGEX "^  [^ ]+ @[0-9]+$")
set(actual "")
foreach(line IN LISTS def_lines)
  string(STRIP "${line}" line)
  list(APPEND actual "${line}")
endforeach()
if(TAMPER)
  if(NOT actual STREQUAL expected)
    message(STATUS "the .def does not match even untampered, so the tampering proves nothing")
    return()
  endif()
  list(POP_BACK actual)
  list(APPEND actual "zarn_renamed @99")
endif()
if(NOT actual STREQUAL expected)
  string(REPLACE ";" "\n  " expected_text "${expected}")
  string(REPLACE ";" "\n  " actual_text "${actual}")
  message(FATAL_ERROR "the .def file does not match the headers.\nexpected:\n  ${expected_text}\n.def:\n  ${actual_text}")
endif()
list(LENGTH expected count)
message(STATUS "${count} exports match ${DEF_FILE}")
