#include "tools/mock_backend/TlsIdentity.h"

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

#include "tools/certgen/CertGen.h"

namespace zarnmock {

TlsIdentity MakeTlsIdentity(const std::optional<zarncert::KeyCert>& given) {
  const zarncert::KeyCert authority = given ? *given : zarncert::MakeAuthority("Zarn Mock Backend CA");
  const zarncert::KeyCert server = zarncert::MakeServerCert(authority, {"localhost"}, {"127.0.0.1"});
  return TlsIdentity{authority.certPem, server.certPem, server.keyPem};
}

bool InstallTlsIdentity(SSL_CTX& context, const TlsIdentity& identity) {
  using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;
  Bio certBio(BIO_new_mem_buf(identity.serverCertPem.data(), static_cast<int>(identity.serverCertPem.size())),
              &BIO_free);
  Bio keyBio(BIO_new_mem_buf(identity.serverKeyPem.data(), static_cast<int>(identity.serverKeyPem.size())),
             &BIO_free);
  if (!certBio || !keyBio) return false;
  std::unique_ptr<X509, decltype(&X509_free)> cert(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr),
                                                   &X509_free);
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
      PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr), &EVP_PKEY_free);
  if (!cert || !key) return false;
  // The context takes its own references to the certificate and key.
  return SSL_CTX_set_min_proto_version(&context, TLS1_2_VERSION) == 1 &&
         SSL_CTX_use_certificate(&context, cert.get()) == 1 && SSL_CTX_use_PrivateKey(&context, key.get()) == 1 &&
         SSL_CTX_check_private_key(&context) == 1;
}

}  // namespace zarnmock
