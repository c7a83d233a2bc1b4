#include "transport/TlsClientContext.h"

#include <openssl/crypto.h>

#include "transport/Error.h"
#include "transport/Messages.h"
#include "transport/SystemTrustStore.h"

namespace sion {
namespace {

// OpenSSL must not tear itself down at exit while a worker may still be finishing a request
// (the pool's exit wait is bounded). The option only counts at OpenSSL's first initialisation,
// so it is made when the library loads, before any other use (the request signatures' digest
// would otherwise initialise it first, with the exit handler).
bool InitialiseOpenSsl() { return OPENSSL_init_ssl(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1; }
const bool openSslReady = InitialiseOpenSsl();

SSL_CTX* MakeContext() {
  if (!openSslReady && !InitialiseOpenSsl()) return nullptr;
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  if (context == nullptr) return nullptr;
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  // Missing default files only leave the store emptier; verification then fails loudly.
  SSL_CTX_set_default_verify_paths(context);
  AddSystemRootCertificates(SSL_CTX_get_cert_store(context));
  SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE);
  return context;
}

}  // namespace

SSL_CTX* SharedTlsClientContext() {
  static SSL_CTX* const context = MakeContext();
  if (context == nullptr) throw Error(messages::kOpensslInit);
  return context;
}

}  // namespace sion
