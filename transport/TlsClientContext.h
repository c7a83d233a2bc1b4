// The one OpenSSL client context of the process: TLS 1.2 or later, server certificates
// verified against the platform's trust store (OpenSSL's default paths, which honour
// SSL_CERT_FILE and SSL_CERT_DIR; on Windows also the system ROOT store).
#pragma once

#include <openssl/ssl.h>

#include <functional>

namespace sion {

// Receives each resumable session the server grants a connection, with one reference it then
// owns; it either keeps the session or throws without keeping it. In TLS 1.3 the server's
// tickets arrive after the handshake, while replies are read, so a connection names its
// receiver for its whole life: its SSL object's app data points at one (or is null).
using TlsSessionSink = std::function<void(SSL_SESSION*)>;

// Made on first use (thread-safe) and never freed, so detached workers can use it until the
// process ends. The trust store is read then: set SSL_CERT_FILE before the first TLS request.
// Throws sion::Error "openssl初始化异常" when OpenSSL could not make it.
SSL_CTX* SharedTlsClientContext();

}  // namespace sion
