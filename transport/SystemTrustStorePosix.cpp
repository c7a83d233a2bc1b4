#include "transport/SystemTrustStore.h"

namespace sion {

void AddSystemRootCertificates(X509_STORE*) noexcept {}

}  // namespace sion
