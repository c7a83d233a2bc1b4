#include "CertGen.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <fstream>
#include <memory>
#include <stdexcept>

namespace zarncert {
namespace {

struct KeyFree { void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); } };
struct CertFree { void operator()(X509* p) const { X509_free(p); } };
struct BioFree { void operator()(BIO* p) const { BIO_free(p); } };
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using CertPtr = std::unique_ptr<X509, CertFree>;
using BioPtr = std::unique_ptr<BIO, BioFree>;

constexpr long kSecondsPerDay = 24L * 60 * 60;

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error("certgen: " + what); }

void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

KeyPtr NewKey() {
  KeyPtr key(EVP_EC_gen("P-256"));
  Check(key != nullptr, "EC key generation failed");
  return key;
}

std::string BioText(BIO* bio) {
  char* data = nullptr;
  long size = BIO_get_mem_data(bio, &data);
  return std::string(data, static_cast<size_t>(size));
}

std::string KeyToPem(EVP_PKEY* key) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  Check(bio && PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
        "writing key PEM failed");
  return BioText(bio.get());
}

std::string CertToPem(X509* cert) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  Check(bio && PEM_write_bio_X509(bio.get(), cert) == 1, "writing certificate PEM failed");
  return BioText(bio.get());
}

KeyPtr KeyFromPem(const std::string& pem) {
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  KeyPtr key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  Check(key != nullptr, "reading authority key failed");
  return key;
}

CertPtr CertFromPem(const std::string& pem) {
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  CertPtr cert(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  Check(cert != nullptr, "reading authority certificate failed");
  return cert;
}

// A fresh certificate with a random positive serial, the validity window and the public key.
CertPtr NewCert(EVP_PKEY* key, int notBeforeDays, int validDays) {
  CertPtr cert(X509_new());
  Check(cert != nullptr, "X509_new failed");
  Check(X509_set_version(cert.get(), 2) == 1, "setting version failed");

  unsigned char serialBytes[16];
  Check(RAND_bytes(serialBytes, sizeof serialBytes) == 1, "random serial failed");
  serialBytes[0] &= 0x7f;
  BIGNUM* serial = BN_bin2bn(serialBytes, sizeof serialBytes, nullptr);
  Check(serial != nullptr, "serial failed");
  bool serialSet = BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(cert.get())) != nullptr;
  BN_free(serial);
  Check(serialSet, "setting serial failed");

  Check(X509_gmtime_adj(X509_getm_notBefore(cert.get()), notBeforeDays * kSecondsPerDay) != nullptr,
        "setting notBefore failed");
  Check(X509_gmtime_adj(X509_getm_notAfter(cert.get()),
                        (static_cast<long>(notBeforeDays) + validDays) * kSecondsPerDay) != nullptr,
        "setting notAfter failed");
  Check(X509_set_pubkey(cert.get(), key) == 1, "setting public key failed");
  return cert;
}

void SetCommonName(X509* cert, const std::string& commonName) {
  X509_NAME* name = X509_get_subject_name(cert);
  Check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                                   0) == 1,
        "setting common name failed");
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
  Check(ext != nullptr, "building extension failed");
  bool added = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  Check(added, "adding extension failed");
}

}  // namespace

KeyCert MakeAuthority(const std::string& commonName, int validDays) {
  KeyPtr key = NewKey();
  CertPtr cert = NewCert(key.get(), -1, validDays + 1);
  SetCommonName(cert.get(), commonName);
  Check(X509_set_issuer_name(cert.get(), X509_get_subject_name(cert.get())) == 1, "setting issuer failed");
  AddExtension(cert.get(), cert.get(), NID_basic_constraints, "critical,CA:TRUE");
  AddExtension(cert.get(), cert.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
  AddExtension(cert.get(), cert.get(), NID_subject_key_identifier, "hash");
  Check(X509_sign(cert.get(), key.get(), EVP_sha256()) > 0, "signing authority failed");
  return KeyCert{KeyToPem(key.get()), CertToPem(cert.get())};
}

KeyCert MakeServerCert(const KeyCert& authority, const std::vector<std::string>& dnsNames,
                       const std::vector<std::string>& ipAddresses, int notBeforeDaysFromNow, int validDays,
                       bool altNames) {
  if (dnsNames.empty() && ipAddresses.empty()) Fail("a server certificate needs a name or an address");
  KeyPtr caKey = KeyFromPem(authority.keyPem);
  CertPtr caCert = CertFromPem(authority.certPem);

  KeyPtr key = NewKey();
  CertPtr cert = NewCert(key.get(), notBeforeDaysFromNow, validDays);
  SetCommonName(cert.get(), dnsNames.empty() ? ipAddresses.front() : dnsNames.front());
  Check(X509_set_issuer_name(cert.get(), X509_get_subject_name(caCert.get())) == 1, "setting issuer failed");

  std::string altNameList;
  for (const auto& dns : dnsNames) altNameList += (altNameList.empty() ? "" : ",") + ("DNS:" + dns);
  for (const auto& ip : ipAddresses) altNameList += (altNameList.empty() ? "" : ",") + ("IP:" + ip);
  AddExtension(cert.get(), caCert.get(), NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(cert.get(), caCert.get(), NID_key_usage, "critical,digitalSignature");
  AddExtension(cert.get(), caCert.get(), NID_ext_key_usage, "serverAuth");
  if (altNames) AddExtension(cert.get(), caCert.get(), NID_subject_alt_name, altNameList);
  AddExtension(cert.get(), caCert.get(), NID_authority_key_identifier, "keyid:always");
  Check(X509_sign(cert.get(), caKey.get(), EVP_sha256()) > 0, "signing server certificate failed");
  return KeyCert{KeyToPem(key.get()), CertToPem(cert.get())};
}

void WritePem(const std::string& path, const std::string& pem) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << pem;
  out.close();
  if (!out) Fail("cannot write " + path);
}

}  // namespace zarncert
