add_library(zarn_warnings INTERFACE)
target_compile_options(zarn_warnings INTERFACE
  $<$<COMPILE_LANG_AND_ID:CXX,GNU,Clang>:-Wall -Wextra -Wpedantic>
  $<$<AND:$<BOOL:${ZARN_WERROR}>,$<COMPILE_LANG_AND_ID:CXX,GNU,Clang>>:-Werror>
  $<$<CXX_COMPILER_ID:MSVC>:/W4 $<$<BOOL:${ZARN_WERROR}>:/WX>>)
