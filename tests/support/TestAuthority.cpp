#include "TestAuthority.h"

#include <cstdlib>

#include "Harness.h"
#include "Os.h"

namespace zarntest {

const zarncert::KeyCert& TrustedAuthority() {
  struct Store {
    TempDir dir;
    zarncert::KeyCert authority = zarncert::MakeAuthority("Zarn Test Root");
    Store() {
      const std::string file = (dir.path() / "roots.pem").string();
      zarncert::WritePem(file, authority.certPem);
      os::SetEnv("SSL_CERT_FILE", file);
      os::SetEnv("SSL_CERT_DIR", dir.str());
    }
  };
  static Store* store = new Store();  // SDK workers may still verify a server at process exit
  // Its folder does not outlive the process, though: the transport read the store when it
  // made its TLS context, and reads it no more.
  static const bool removedAtExit = std::atexit([] { os::RemoveTree(store->dir.str()); }) == 0;
  (void)removedAtExit;
  return store->authority;
}

}  // namespace zarntest
