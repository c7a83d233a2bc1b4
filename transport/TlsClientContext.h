// The one OpenSSL client context of the process: TLS 1.2 or later, server certificates
// verified against the platform's trust store (SystemTrustStore.h).
#pragma once

#include <openssl/ssl.h>

#include <functional>

namespace sion {

// Receives each resumable session the server grants a connection, with one reference it then
// owns; it either keeps the session or throws without keeping it. In TLS 1.3 the server's
// tickets arrive after the handshake, while replies are read, so a connection names its
// receiver for its whole life: its SSL object's app data points at one (or is null).
using TlsSessionSink = std::function<void(SSL_SESSION*)>;

// OpenSSL's first initialisation in the process, with the options that only count then: no
// teardown at exit (a worker may still be finishing a request; the pool's exit wait is
// bounded) and, on Windows, no configuration file. Runs when the library loads; every other
// use of OpenSSL by the SDK (the request signatures' digest) calls it first too, so none can
// initialise OpenSSL with the defaults before it. True when OpenSSL is ready.
bool EnsureOpenSslInitialised();

// Made on first use (thread-safe) and never freed, so detached workers can use it until the
// process ends. The trust store is read then: set SSL_CERT_FILE before the first TLS request.
// Throws sion::Error "openssl初始化异常" when OpenSSL could not make it.
SSL_CTX* SharedTlsClientContext();

}  // namespace sion
