// Where trust comes from, per OS (one implementation file per OS): which certificate
// authorities the transport trusts, and what OpenSSL may read on its own at start-up.
#pragma once

#include <openssl/ssl.h>

#include <cstdint>

namespace sion {

// Options of OpenSSL's first initialisation in the process. Windows: no configuration file is
// ever loaded (OpenSSL would look for one in a folder compiled into the library, which on a
// player's machine nobody owns). Elsewhere the system's configuration applies.
uint64_t OpenSslInitOptions() noexcept;

// Fills the context's trust store. Windows: the system's ROOT store, and the file named by
// SSL_CERT_FILE when set (for testing); never OpenSSL's compiled-in default paths. Elsewhere:
// OpenSSL's default paths, which are the system's store and honour SSL_CERT_FILE and
// SSL_CERT_DIR. Never throws; what cannot be loaded leaves the store emptier, and verification
// then fails loudly.
void LoadTrustAnchors(SSL_CTX* context) noexcept;

}  // namespace sion
