#pragma once
// A fresh self-signed ECDSA P-256 certificate for one connection and its
// SHA-256 fingerprint for the SDP.
#include <memory>
#include <string>

typedef struct evp_pkey_st EVP_PKEY;
typedef struct x509_st X509;

namespace rtc::impl {

class Certificate {
public:
  // Throws std::runtime_error when OpenSSL cannot make one.
  static std::shared_ptr<Certificate> generate();
  ~Certificate();

  X509* x509() const { return x509_; }
  EVP_PKEY* key() const { return key_; }
  std::string fingerprint() const { return fingerprint_; }

  // "AB:CD:..." of `cert` under `algorithm` ("sha-256", "sha-1", ...); empty
  // when the algorithm is unknown.
  static std::string fingerprintOf(X509* cert, const std::string& algorithm);
  static bool supportedAlgorithm(const std::string& algorithm);

private:
  Certificate() = default;
  X509* x509_ = nullptr;
  EVP_PKEY* key_ = nullptr;
  std::string fingerprint_;
};

} // namespace rtc::impl
