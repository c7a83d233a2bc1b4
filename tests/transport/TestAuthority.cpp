#include "TestAuthority.h"

#include <cstdlib>

#include "TestSupport.h"

namespace zarntest {

const zarncert::KeyCert& TrustedAuthority() {
  struct Store {
    TempDir dir;
    zarncert::KeyCert authority = zarncert::MakeAuthority("Zarn Test Root");
    Store() {
      const std::string file = (dir.path() / "roots.pem").string();
      zarncert::WritePem(file, authority.certPem);
      setenv("SSL_CERT_FILE", file.c_str(), 1);
      setenv("SSL_CERT_DIR", dir.str().c_str(), 1);
    }
  };
  static Store store;
  return store.authority;
}

}  // namespace zarntest
