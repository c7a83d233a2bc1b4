// The mock server's TLS identity: a fresh certificate authority per start and a server
// certificate it signs for 127.0.0.1 and localhost. Clients trust the authority through the
// PEM file it is written to (for instance via SSL_CERT_FILE).
#pragma once

#include <openssl/ssl.h>

#include <string>

namespace zarnmock {

struct TlsIdentity {
  std::string authorityCertPem;
  std::string serverCertPem;
  std::string serverKeyPem;
};

// Throws std::runtime_error when OpenSSL fails.
TlsIdentity MakeTlsIdentity();

// Installs the server certificate and key in a server context (TLS 1.2 at least). False when
// OpenSSL refuses them.
bool InstallTlsIdentity(SSL_CTX& context, const TlsIdentity& identity);

}  // namespace zarnmock
