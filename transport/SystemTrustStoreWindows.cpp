// wincrypt.h defines macros named like OpenSSL types (X509_NAME, ...): the Windows headers come
// first and those macros are dropped before any OpenSSL header is read.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <wincrypt.h>
#undef X509_NAME
#undef X509_EXTENSIONS
#undef X509_CERT_PAIR
#undef PKCS7_ISSUER_AND_SERIAL
#undef PKCS7_SIGNER_INFO
#undef OCSP_REQUEST
#undef OCSP_RESPONSE

#include "transport/SystemTrustStore.h"

#include <openssl/x509.h>

namespace sion {

void AddSystemRootCertificates(X509_STORE* store) noexcept {
  if (store == nullptr) return;
  HCERTSTORE system = CertOpenSystemStoreW(0, L"ROOT");
  if (system == nullptr) return;
  PCCERT_CONTEXT certificate = nullptr;
  while ((certificate = CertEnumCertificatesInStore(system, certificate)) != nullptr) {
    const unsigned char* der = certificate->pbCertEncoded;
    X509* parsed = d2i_X509(nullptr, &der, static_cast<long>(certificate->cbCertEncoded));
    if (parsed != nullptr) {
      // A certificate already in the store is refused harmlessly.
      X509_STORE_add_cert(store, parsed);
      X509_free(parsed);
    }
  }
  CertCloseStore(system, 0);
}

}  // namespace sion
