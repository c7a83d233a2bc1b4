#include "transport/SystemTrustStore.h"

namespace sion {

uint64_t OpenSslInitOptions() noexcept { return 0; }

void LoadTrustAnchors(SSL_CTX* context) noexcept { SSL_CTX_set_default_verify_paths(context); }

}  // namespace sion
