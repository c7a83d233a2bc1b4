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

#include "platform/Platform.h"

namespace sion {
namespace {

void AddSystemRootCertificates(X509_STORE* store) {
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

}  // namespace

uint64_t OpenSslInitOptions() noexcept { return OPENSSL_INIT_NO_LOAD_CONFIG; }

void LoadTrustAnchors(SSL_CTX* context) noexcept {
  try {
    AddSystemRootCertificates(SSL_CTX_get_cert_store(context));
    // Read as UTF-16 (a profile folder outside the ANSI code page); OpenSSL opens UTF-8 names
    // as such on Windows.
    if (const auto file = zarnplatform::EnvironmentVariable("SSL_CERT_FILE")) {
      SSL_CTX_load_verify_file(context, file->c_str());
    }
  } catch (...) {
    // Out of memory: fewer anchors, so verification fails rather than trusts.
  }
}

}  // namespace sion
