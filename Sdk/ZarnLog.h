// Logging for the whole SDK: easylogging++'s logger "default", writing "zarnlog.log" in the
// process's working directory (and standard output, the library's default). Switched off by
// InitSdk and on only for test devices; the file exists only once logging was on.
//
// Texts in Chinese are part of the interface and are written as their GBK (code page 936)
// bytes, spelled as byte escapes next to a comment with their meaning.
#pragma once

#include <easylogging++.h>

namespace ZarnSdk {

// (Re)configures the "default" logger: library defaults, format "%datetime [%level]: %msg" for
// every level, every level enabled or not, and the flag NewLineForContainer. While enabled, the
// lines are appended to "zarnlog.log", created with owner-only access and never through a
// symbolic link. Safe to call from any thread while others log.
void ConfigureLogger(bool enabled);

}  // namespace ZarnSdk
