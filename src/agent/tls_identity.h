#pragma once
// The agent's HTTPS certificate: read from PEM files, or made up at start
// (self-signed) when none is given. Viewers check the printed fingerprint.
#include <memory>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <string>
#include <string_view>

namespace dravnok::agent {

struct TlsIdentity {
  std::unique_ptr<X509, decltype(&X509_free)> certificate{nullptr, X509_free};
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key{nullptr, EVP_PKEY_free};
  std::string fingerprint; // SHA-256 of the certificate, "AB:CD:..."
};

// Both throw std::runtime_error with the reason.
TlsIdentity loadTlsIdentity(const std::string& certificatePath, const std::string& keyPath);
TlsIdentity makeSelfSignedIdentity(std::string_view hostName);

} // namespace dravnok::agent
