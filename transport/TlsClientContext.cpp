#include "transport/TlsClientContext.h"

#include <openssl/crypto.h>

#include "transport/Error.h"
#include "transport/Messages.h"
#include "transport/SystemTrustStore.h"

namespace sion {
namespace {

bool InitialiseOpenSsl() { return OPENSSL_init_ssl(OPENSSL_INIT_NO_ATEXIT | OpenSslInitOptions(), nullptr) == 1; }
// Made when the library loads, before any other use.
const bool openSslReady = EnsureOpenSslInitialised();

// Called by OpenSSL whenever a server grants a session: after a TLS 1.2 handshake, and for each
// TLS 1.3 ticket, which may come at any later read. 1 tells OpenSSL the reference was taken.
int HandOverSession(SSL* ssl, SSL_SESSION* session) {
  auto* sink = static_cast<TlsSessionSink*>(SSL_get_app_data(ssl));
  if (sink == nullptr || !*sink) return 0;
  try {
    (*sink)(session);
    return 1;
  } catch (...) {
    return 0;
  }
}

SSL_CTX* MakeContext() {
  if (!openSslReady && !InitialiseOpenSsl()) return nullptr;
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  if (context == nullptr) return nullptr;
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  LoadTrustAnchors(context);
  SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE);
  // A client's sessions are only worth keeping per server, which OpenSSL cannot know: each
  // connection hands them to its own receiver instead of the context's cache.
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(context, HandOverSession);
  return context;
}

}  // namespace

bool EnsureOpenSslInitialised() {
  static const bool initialised = InitialiseOpenSsl();
  return initialised;
}

SSL_CTX* SharedTlsClientContext() {
  static SSL_CTX* const context = MakeContext();
  if (context == nullptr) throw Error(messages::kOpensslInit);
  return context;
}

}  // namespace sion
