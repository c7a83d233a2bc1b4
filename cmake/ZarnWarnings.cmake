add_library(zarn_warnings INTERFACE)
# clang also checks the lock annotations (platform/Mutex.h): who holds what, in which order.
# Designated initializers name what they set and leave the rest at their defaults on purpose,
# which g++ 12's -Wmissing-field-initializers would flag.
target_compile_options(zarn_warnings INTERFACE
  $<$<COMPILE_LANG_AND_ID:CXX,GNU,Clang>:-Wall -Wextra -Wpedantic -Wno-missing-field-initializers>
  $<$<COMPILE_LANG_AND_ID:CXX,Clang>:-Wthread-safety -Wthread-safety-beta>
  $<$<AND:$<BOOL:${ZARN_WERROR}>,$<COMPILE_LANG_AND_ID:CXX,GNU,Clang>>:-Werror>
  $<$<CXX_COMPILER_ID:MSVC>:/W4 $<$<BOOL:${ZARN_WERROR}>:/WX>>)
