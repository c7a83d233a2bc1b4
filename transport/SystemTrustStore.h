// The operating system's own certificate authorities, for systems whose trust store OpenSSL's
// default paths do not reach. One implementation file per OS.
#pragma once

#include <openssl/x509_vfy.h>

namespace sion {

// Adds the system's trusted root certificates to `store`: the ROOT store on Windows; nothing
// elsewhere (OpenSSL's default paths are the system store there). Never throws.
void AddSystemRootCertificates(X509_STORE* store) noexcept;

}  // namespace sion
