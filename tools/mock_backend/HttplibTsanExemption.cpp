// Compiled into every program that links the mock backend (an interface source of the library),
// because ThreadSanitizer looks the hook up in the program itself.
//
// Debian's cpp-httplib is a prebuilt, uninstrumented library: ThreadSanitizer cannot see the
// one-time initialisation guards of its function-local statics, so the first concurrent
// connections look like a race inside that library (reported from the memcpy/memcmp
// interceptors it calls). Only calls made from that library are exempt; the mock backend's own
// code, the SDK and the tests stay fully checked. Weak, so that a program which brings its own
// (identical) list keeps it.
#if defined(__SANITIZE_THREAD__)
extern "C" __attribute__((weak, visibility("default"))) const char* __tsan_default_suppressions() {
  // OpenSSL is prebuilt too: its internal synchronisation of shared TLS contexts is invisible
  // to the sanitizer in the same way.
  return "called_from_lib:libcpp-httplib.so\n"
         "called_from_lib:libcrypto.so\n"
         "called_from_lib:libssl.so\n";
}
#endif
