// The test process's one trusted certificate authority. Made on first use; its certificate is
// the only one in the trust store the transport reads (SSL_CERT_FILE, SSL_CERT_DIR), which is
// pointed at it before the transport's first TLS request: the transport reads the store once
// per process, so every TLS server of a test program signs with this authority.
#pragma once

#include "tools/certgen/CertGen.h"

namespace zarntest {

const zarncert::KeyCert& TrustedAuthority();

}  // namespace zarntest
