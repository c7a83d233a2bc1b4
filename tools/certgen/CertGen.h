// Certificates made at run time for tests and the mock backend: a self-signed authority and
// server certificates it signs, as PEM texts. EC P-256 keys, SHA-256 signatures. Throws
// std::runtime_error when OpenSSL fails. Thread-safe (no shared state).
#pragma once

#include <string>
#include <vector>

namespace zarncert {

struct KeyCert {
  std::string keyPem;   // PKCS#8 private key
  std::string certPem;  // X.509 certificate
};

// A CA certificate (basicConstraints CA:TRUE) valid from one day ago for `validDays` days.
KeyCert MakeAuthority(const std::string& commonName, int validDays = 30);

// A server certificate signed by `authority` for the given DNS names and IPv4/IPv6 addresses
// (subjectAltName; the first name or address is also the common name). The validity starts
// `notBeforeDaysFromNow` days from now (negative: in the past) and lasts `validDays` days, so
// (-60, 30) gives a certificate that expired a month ago. Without `altNames` the certificate
// names its server in the common name only, as old certificates did.
KeyCert MakeServerCert(const KeyCert& authority, const std::vector<std::string>& dnsNames,
                       const std::vector<std::string>& ipAddresses, int notBeforeDaysFromNow = -1,
                       int validDays = 30, bool altNames = true);

// Writes `pem` to `path`, replacing the file. Throws std::runtime_error on failure.
void WritePem(const std::string& path, const std::string& pem);

}  // namespace zarncert
