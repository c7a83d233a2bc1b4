// The test process's trusted certificate authority. Made once per process; its certificate is
// the only one in the trust store the transport reads (SSL_CERT_FILE, SSL_CERT_DIR), which is
// pointed at it before the transport's first TLS request.
#pragma once

#include "CertGen.h"

namespace zarntest {

const zarncert::KeyCert& TrustedAuthority();

}  // namespace zarntest
