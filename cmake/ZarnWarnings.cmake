add_library(zarn_warnings INTERFACE)
# clang also checks the lock annotations (platform/Mutex.h): who holds what, in which order.
target_compile_options(zarn_warnings INTERFACE
  $<$<COMPILE_LANG_AND_ID:CXX,GNU,Clang>:-Wall -Wextra -Wpedantic>
  $<$<COMPILE_LANG_AND_ID:CXX,Clang>:-Wthread-safety -Wthread-safety-beta>
  $<$<AND:$<BOOL:${ZARN_WERROR}>,$<COMPILE_LANG_AND_ID:CXX,GNU,Clang>>:-Werror>
  $<$<CXX_COMPILER_ID:MSVC>:/W4 $<$<BOOL:${ZARN_WERROR}>:/WX>>)
