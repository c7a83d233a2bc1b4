cmake_minimum_required(VERSION 3.25)
# The DLL names no folder of the machine that built it (on a player's machine any local user may
# create such a path from the drive's root), in any text the loader maps (ASCII, UTF-16). Inputs:
# FILE, STRIP, WORK_DIR, FORBIDDEN (this machine's folders, joined by "|"). With -DTAMPER=ON
# OpenSSL's compiled-in folder "<none>" counts too: the check must then fail.
string(REPLACE "|" ";" forbidden "${FORBIDDEN}|/root/|/home/|/usr/|/tmp/|/opt/|/var/|/etc/|/build/|/.cache/")
list(REMOVE_ITEM forbidden "")
if(TAMPER)
  list(APPEND forbidden "<none>")
endif()
file(MAKE_DIRECTORY "${WORK_DIR}")
execute_process(COMMAND ${STRIP} --strip-all -o "${WORK_DIR}/stripped" "${FILE}" COMMAND_ERROR_IS_FATAL ANY)
foreach(encoding UTF-8 UTF-16LE)
  file(STRINGS "${WORK_DIR}/stripped" texts ENCODING ${encoding} LENGTH_MINIMUM 4)
  foreach(path IN LISTS forbidden)
    string(FIND "${texts}" "${path}" at)
    if(NOT at EQUAL -1)
      string(SUBSTRING "${texts}" ${at} 100 around)
      message(SEND_ERROR "${FILE} names a folder of the build machine: ${around}")
    endif()
  endforeach()
endforeach()
