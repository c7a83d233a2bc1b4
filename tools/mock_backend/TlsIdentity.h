// The mock server's TLS identity: a fresh certificate authority per start and a server
// certificate it signs for 127.0.0.1 and localhost. Clients trust the authority through the
// PEM file it is written to (for instance via SSL_CERT_FILE).
#pragma once

#include <openssl/ssl.h>

#include <optional>
#include <string>

#include "tools/certgen/CertGen.h"

namespace zarnmock {

struct TlsIdentity {
  std::string authorityCertPem;
  std::string serverCertPem;
  std::string serverKeyPem;
};

// Signed by `authority` when given (a test process trusts one authority for all its servers),
// else by a fresh one. Throws std::runtime_error when OpenSSL fails.
TlsIdentity MakeTlsIdentity(const std::optional<zarncert::KeyCert>& authority = std::nullopt);

// Installs the server certificate and key in a server context (TLS 1.2 at least). False when
// OpenSSL refuses them.
bool InstallTlsIdentity(SSL_CTX& context, const TlsIdentity& identity);

}  // namespace zarnmock
