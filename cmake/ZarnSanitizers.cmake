# One sanitizer family per build directory; applied to every target of the tree so that the
# SDK, the stand-in Steam client, the mock backend and the tests are all instrumented.
if(ZARN_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=thread)
elseif(ZARN_SANITIZE STREQUAL "address")
  # GCC's maybe-uninitialized analysis gives false positives on instrumented code (std::regex
  # among others); the plain build keeps the warning.
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer -g
                      $<$<CXX_COMPILER_ID:GNU>:-Wno-maybe-uninitialized>)
  add_link_options(-fsanitize=address,undefined)
elseif(NOT ZARN_SANITIZE STREQUAL "")
  message(FATAL_ERROR "ZARN_SANITIZE must be empty, 'thread' or 'address'")
endif()

# zarn_sanitizer_hooks(<executable>): the thread-sanitizer exemptions of the project's own
# programs. The SDK library never carries them.
function(zarn_sanitizer_hooks target)
  if(ZARN_SANITIZE STREQUAL "thread")
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tools/sanitizer_hooks/TsanSuppressions.cpp)
  endif()
endfunction()
