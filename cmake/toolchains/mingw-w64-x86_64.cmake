# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix thread model, so std::thread
# and std::mutex work) and runs the resulting programs under wine.
#
#   prefix=$(scripts/setup-windows | tail -1)
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake \
#         -DZARN_WINDOWS_DEPS="$prefix"
#
# ZARN_WINDOWS_DEPS is the folder scripts/setup-windows filled: OpenSSL, GoogleTest and the
# header-only libraries built or copied for Windows. It may also come from the environment
# variable of the same name; without either, the newest prefix setup-windows made is used.
# The host's /usr/include is never searched: it holds glibc's headers, which would compile
# and then fail in odd ways against the Windows runtime.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZARN_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${ZARN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZARN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${ZARN_MINGW_TRIPLE}-windres)

# try_compile() projects read this file again with a fresh cache: hand the prefix down.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZARN_WINDOWS_DEPS)

if(NOT ZARN_WINDOWS_DEPS AND DEFINED ENV{ZARN_WINDOWS_DEPS})
  set(ZARN_WINDOWS_DEPS "$ENV{ZARN_WINDOWS_DEPS}")
endif()
if(NOT ZARN_WINDOWS_DEPS)
  # setup-windows keeps a link to the prefix it last completed next to the prefixes.
  if(DEFINED ENV{ZARN_DEPS_CACHE})
    set(_zarn_cache "$ENV{ZARN_DEPS_CACHE}")
  elseif(DEFINED ENV{XDG_CACHE_HOME})
    set(_zarn_cache "$ENV{XDG_CACHE_HOME}/zarnsdk-deps")
  else()
    set(_zarn_cache "$ENV{HOME}/.cache/zarnsdk-deps")
  endif()
  if(EXISTS "${_zarn_cache}/mingw64-current/.complete")
    get_filename_component(ZARN_WINDOWS_DEPS "${_zarn_cache}/mingw64-current" REALPATH)
  endif()
  unset(_zarn_cache)
endif()
set(ZARN_WINDOWS_DEPS "${ZARN_WINDOWS_DEPS}" CACHE PATH
    "Prefix with the Windows builds of the dependencies (printed by scripts/setup-windows)")

# mingw-w64's own headers and import libraries live in its sysroot.
set(CMAKE_FIND_ROOT_PATH /usr/${ZARN_MINGW_TRIPLE})
if(ZARN_WINDOWS_DEPS)
  if(NOT EXISTS "${ZARN_WINDOWS_DEPS}/.complete")
    # setup-windows builds GoogleTest with this very file before the prefix is complete.
    message(STATUS "ZARN_WINDOWS_DEPS=${ZARN_WINDOWS_DEPS} is not complete yet (no .complete stamp)")
  endif()
  list(PREPEND CMAKE_FIND_ROOT_PATH "${ZARN_WINDOWS_DEPS}")
  # Each dependency keeps its own sub-prefix, so one can be rebuilt without the others.
  list(APPEND CMAKE_PREFIX_PATH
    "${ZARN_WINDOWS_DEPS}" "${ZARN_WINDOWS_DEPS}/openssl" "${ZARN_WINDOWS_DEPS}/gtest")
  list(REMOVE_DUPLICATES CMAKE_PREFIX_PATH)

  set(OPENSSL_ROOT_DIR "${ZARN_WINDOWS_DEPS}/openssl")
  # Only static OpenSSL is built; this also makes FindOpenSSL add ws2_32 and crypt32.
  set(OPENSSL_USE_STATIC_LIBS TRUE)

  # httplib.h and easylogging++.h have no CMake package: this makes them reachable the way
  # /usr/include is on Linux, as -isystem, so their warnings stay out of -Werror builds.
  set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES "${ZARN_WINDOWS_DEPS}/include")
  set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES "${ZARN_WINDOWS_DEPS}/include")
endif()

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A game ships the SDK's DLL beside its executable, not mingw's runtime DLLs: libgcc, libstdc++
# and winpthread go inside each DLL and EXE. (A CMAKE_<KIND>_LINKER_FLAGS given on the command
# line replaces these defaults, so such a line needs its own -static.)
option(ZARN_WINDOWS_STATIC_RUNTIME "Link the GCC, C++ and winpthread runtimes statically" ON)
if(ZARN_WINDOWS_STATIC_RUNTIME)
  # This file is read more than once per configure; add the flag only once.
  foreach(_zarn_kind EXE SHARED MODULE)
    if(NOT " ${CMAKE_${_zarn_kind}_LINKER_FLAGS_INIT} " MATCHES " -static ")
      string(APPEND CMAKE_${_zarn_kind}_LINKER_FLAGS_INIT " -static")
    endif()
  endforeach()
  unset(_zarn_kind)
endif()

# ctest runs the test programs through wine. setup-windows leaves a wrapper in the prefix that
# sets the wine prefix and quiets wine; without it plain wine is used with the same settings.
if(ZARN_WINDOWS_DEPS AND EXISTS "${ZARN_WINDOWS_DEPS}/bin/zarn-wine")
  set(CMAKE_CROSSCOMPILING_EMULATOR "${ZARN_WINDOWS_DEPS}/bin/zarn-wine")
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= wine)
endif()
