# The layers of the SDK, lowest first: each may include its own headers and those of the layers
# below it, never one above. Every include is written from the source tree's root, so one
# include root serves all layers and the compiler cannot tell an upward include; this check can.
#
# Included from the build: zarn_layer_check(<target>) makes building <target> first check the
# whole folder of the calling CMakeLists (every file, listed in a target or not), again whenever
# a file there changes or appears.
# As a script: cmake -DROOT=<tree> -DLAYER=<folder> [-DSTAMP=<file>] -P ZarnLayers.cmake
# fails naming each offending file and line, and touches STAMP when there is none.
set(ZARN_LAYERS platform transport Sdk proxy)

if(NOT CMAKE_SCRIPT_MODE_FILE)
  set(ZARN_LAYER_SCRIPT ${CMAKE_CURRENT_LIST_FILE})
  function(zarn_layer_check target)
    get_filename_component(layer ${CMAKE_CURRENT_SOURCE_DIR} NAME)
    file(GLOB_RECURSE files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*)
    set(stamp ${CMAKE_CURRENT_BINARY_DIR}/layer-includes-checked)
    add_custom_command(OUTPUT ${stamp}
      COMMAND ${CMAKE_COMMAND} -DROOT=${PROJECT_SOURCE_DIR} -DLAYER=${layer} -DSTAMP=${stamp} -P ${ZARN_LAYER_SCRIPT}
      DEPENDS ${files} ${ZARN_LAYER_SCRIPT}
      COMMENT "Checking that ${layer}/ includes no layer above it" VERBATIM)
    add_custom_target(${target}_layer_check DEPENDS ${stamp})
    add_dependencies(${target} ${target}_layer_check)
  endfunction()
  return()
endif()

cmake_minimum_required(VERSION 3.25)
list(FIND ZARN_LAYERS "${LAYER}" rank)
if(rank LESS 0)
  message(FATAL_ERROR "LAYER must be one of ${ZARN_LAYERS}, not '${LAYER}'")
endif()
math(EXPR rank "${rank} + 1")
list(SUBLIST ZARN_LAYERS ${rank} -1 above)

set(faults "")
file(GLOB_RECURSE files RELATIVE ${ROOT} ${ROOT}/${LAYER}/*)
list(SORT files)
foreach(file IN LISTS files)
  if(NOT file MATCHES "\\.(h|hh|hpp|hxx|inl|ipp|c|cc|cpp|cxx)$")
    continue()
  endif()
  file(READ ${ROOT}/${file} text)
  # A directive starts its line; a commented-out one does not count.
  string(REGEX MATCHALL "(^|\n)[ \t]*#[ \t]*include[ \t]*[<\"][^>\"\n]*[>\"]" directives "${text}")
  foreach(directive IN LISTS directives)
    string(REGEX REPLACE ".*[<\"]([^>\"]*)[>\"]$" "\\1" included "${directive}")
    get_filename_component(folder ${file} DIRECTORY)
    if(included MATCHES "^\\.")
      set(included ${folder}/${included})
    endif()
    cmake_path(NORMAL_PATH included)
    string(REGEX REPLACE "/.*" "" top "${included}")
    if(NOT top IN_LIST above)
      continue()
    endif()
    string(FIND "${text}" "${directive}" at)
    string(SUBSTRING "${text}" 0 ${at} before)
    string(REGEX MATCHALL "\n" breaks "${before}\n")
    list(LENGTH breaks line)
    if(directive MATCHES "^\n")
      math(EXPR line "${line} + 1")
    endif()
    string(APPEND faults "${file}:${line}: includes ${included}, from the layer ${top} above ${LAYER}\n")
  endforeach()
endforeach()

if(faults)
  string(REPLACE ";" " <- " order "${ZARN_LAYERS}")
  message(FATAL_ERROR "${faults}A layer may include only its own headers and those below it (${order}).")
endif()
if(STAMP)
  file(TOUCH ${STAMP})
endif()
