// ThreadSanitizer exemptions for the project's own programs (tests, mock backend, sample game).
// Compiled only into thread-sanitizer builds of executables, never into the SDK: the runtime
// looks the hook up in the program itself.
//
// Each entry is a place the sanitizer cannot see synchronisation, not a place we accept a race:
// - Debian's cpp-httplib and OpenSSL are prebuilt and uninstrumented. Their internal guards (the
//   one-time initialisation of httplib's function-local statics, OpenSSL's lock-free caches of
//   certificate and session data shared by handshakes on one context) are invisible, so their
//   memcpy/memcmp calls look racy. Only accesses made from inside those libraries are exempt.
// - glibc frees the thread-local block of a finished detached thread (the SDK's workers and
//   waits are detached) from whichever thread next creates one, under a lock internal to the C
//   library; a thread_local of a dlopen()ed library lives in such a block.
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
  return "called_from_lib:libcpp-httplib.so\n"
         "called_from_lib:libcrypto.so\n"
         "called_from_lib:libssl.so\n"
         "race:_dl_deallocate_tls\n";
}
