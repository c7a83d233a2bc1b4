# The tree passes the check of every layer; each planted file fails it, naming its file and line,
# or passes where it should.
set(check ${REPO_DIR}/cmake/ZarnLayers.cmake)
macro(run_check at_root at_layer)
  execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${at_root} -DLAYER=${at_layer} -P ${check}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
endmacro()

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
  "transport|Planted.h|#include \"platform/Mutex.h\"|0"
  "Sdk|Planted.h|#include \"proxy/ProcessSdk.h\"|1"
  "Sdk|Planted.cpp|#include \"transport/Request.h\"|0")
foreach(case IN LISTS cases)
  string(REGEX MATCH "^([^|]*)\\|([^|]*)\\|(.*)\\|([01])$" fields "${case}")
  set(layer ${CMAKE_MATCH_1})
  set(file ${CMAKE_MATCH_2})
  set(directive "${CMAKE_MATCH_3}")
  set(fails ${CMAKE_MATCH_4})
  string(MD5 root "${case}")
  set(root ${WORK_DIR}/${root})
  file(REMOVE_RECURSE ${root})
  file(WRITE ${root}/${layer}/${file} "// planted\n\n${directive}\n")
  run_check(${root} ${layer})
  if(fails AND (result EQUAL 0 OR NOT output MATCHES "${layer}/${file}:3: "))
    message(SEND_ERROR "not caught with its file and line: ${case}\n${output}")
  elseif(NOT fails AND NOT result EQUAL 0)
    message(SEND_ERROR "refused, yet allowed: ${case}\n${output}")
  endif()
endforeach()
