cmake_minimum_required(VERSION 3.25)
# Compiles the public headers' declarations for the MSVC target, with a minimal standard
# library shaped like Microsoft's (char_traits a struct; allocator and basic_string classes), and
# compares the export names the compiler emits with the .def file that MSVC builds export by:
# the same names, every published ordinal unmoved, each newer export at the next free ordinal.
# With -DTAMPER=ON two published ordinals are swapped first: the check must then fail (a check
# that cannot fail checks nothing).
# Inputs: INCLUDE_DIR, DEF_FILE, PUBLISHED_FILE, WORK_DIR, CLANG, NM.
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
# A game linked by ordinal keeps working only if a published ordinal never moves: every line of
# PUBLISHED_FILE stands in the .def as it is, and a newer export takes the next free ordinal.
file(STRINGS "${PUBLISHED_FILE}" published REGEX "^[^# ]+ @[0-9]+$")
set(header_names ${cpp_names} ${c_names})
list(SORT header_names)
function(def_problems entries out)
  set(problems "")
  set(next 1)
  foreach(entry IN LISTS published)
    if(NOT entry IN_LIST entries)
      string(APPEND problems "published export moved or removed: ${entry}\n")
    endif()
    string(REGEX REPLACE ".* @" "" ordinal "${entry}")
    if(ordinal GREATER_EQUAL next)
      math(EXPR next "${ordinal} + 1")
    endif()
  endforeach()
  set(names "")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE " @[0-9]+$" "" name "${entry}")
    list(APPEND names "${name}")
    if(NOT entry IN_LIST published)
      if(NOT entry MATCHES " @${next}$")
        string(APPEND problems "${entry}: a new export takes the next free ordinal, @${next}\n")
      endif()
      math(EXPR next "${next} + 1")
    endif()
  endforeach()
  list(SORT names)
  if(NOT names STREQUAL header_names)
    string(REPLACE ";" " " header_text "${header_names}")
    string(APPEND problems "the .def names differ from the headers' exports: ${header_text}\n")
  endif()
  set(${out} "${problems}" PARENT_SCOPE)
endfunction()

file(STRINGS "${DEF_FILE}" def_lines REGEX "^  [^ ]+ @[0-9]+$")
set(actual "")
foreach(line IN LISTS def_lines)
  string(STRIP "${line}" line)
  list(APPEND actual "${line}")
endforeach()
def_problems("${actual}" problems)
if(TAMPER)
  if(problems)
    message(STATUS "the .def breaks the rules even untampered, so the tampering proves nothing")
    return()
  endif()
  # Ordinals handed out by name order again: two published ones swap places.
  list(GET actual 12 first)
  list(GET actual 13 second)
  string(REGEX REPLACE " @.*" " @14" first "${first}")
  string(REGEX REPLACE " @.*" " @13" second "${second}")
  list(REMOVE_AT actual 12 13)
  list(INSERT actual 12 "${second}" "${first}")
  def_problems("${actual}" problems)
endif()
if(problems)
  message(FATAL_ERROR "${DEF_FILE} breaks the export rules:\n${problems}")
endif()
list(LENGTH actual count)
message(STATUS "${count} exports match ${DEF_FILE}, published ordinals unmoved")
