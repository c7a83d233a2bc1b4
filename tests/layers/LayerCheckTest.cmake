# The tree passes the check of every layer; each planted file fails it, naming its file and line,
# or passes where it should.
set(check ${REPO_DIR}/cmake/ZarnLayers.cmake)
function(run_check root layer)
  execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${root} -DLAYER=${layer} -P ${check}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  set(result ${result} PARENT_SCOPE)
  set(output "${output}" PARENT_SCOPE)
endfunction()

foreach(layer platform transport Sdk)
  run_check(${REPO_DIR} ${layer})
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "the tree fails the check of ${layer}/:\n${output}")
  endif()
endforeach()

# layer | planted file | its include line | fails
set(cases
  "platform|Planted.h|#include \"transport/Error.h\"|1"
  "platform|Planted.cpp|  #  include \"proxy/ProcessSdk.h\"|1"
  "platform|deeper/Planted.inl|#include \"Sdk/ZarnLog.h\"|1"
  "platform|Planted.h|// #include \"Sdk/ZarnLog.h\"|0"
  "transport|Planted.h|#include <Sdk/ZarnLog.h>|1"
  "transport|Planted.cpp|#include \"../Sdk/ZarnLog.h\"|1"
  "transport|Planted.h|#include \"proxy/StringConvert.h\"|1"
  "transport|Planted.h|#include \"platform/Mutex.h\"|0"
  "Sdk|Planted.h|#include \"proxy/ProcessSdk.h\"|1"
  "Sdk|Planted.h|#include \"proxy/StringConvert.h\"|0"
  "Sdk|Planted.cpp|#include \"transport/Request.h\"|0")
set(index 0)
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 layer)
  list(GET fields 1 file)
  list(GET fields 2 directive)
  list(GET fields 3 fails)
  math(EXPR index "${index} + 1")
  set(root ${WORK_DIR}/${index})
  file(REMOVE_RECURSE ${root})
  file(WRITE ${root}/${layer}/${file} "// planted\n\n${directive}\n")
  run_check(${root} ${layer})
  if(fails AND (result EQUAL 0 OR NOT output MATCHES "${layer}/${file}:3: "))
    message(SEND_ERROR "not caught with its file and line: ${case}\n${output}")
  elseif(NOT fails AND NOT result EQUAL 0)
    message(SEND_ERROR "refused, yet allowed: ${case}\n${output}")
  endif()
endforeach()
