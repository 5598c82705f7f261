#include "transport/certificate.hpp"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <stdexcept>

namespace rtc::impl {
namespace {

const EVP_MD* digestFor(const std::string& algorithm) {
  if (algorithm == "sha-256") return EVP_sha256();
  if (algorithm == "sha-1") return EVP_sha1();
  if (algorithm == "sha-224") return EVP_sha224();
  if (algorithm == "sha-384") return EVP_sha384();
  if (algorithm == "sha-512") return EVP_sha512();
  return nullptr;
}

} // namespace

std::shared_ptr<Certificate> Certificate::generate() {
  std::shared_ptr<Certificate> cert(new Certificate());
  cert->key_ = EVP_EC_gen("P-256");
  if (!cert->key_) throw std::runtime_error("cannot generate the DTLS key");
  cert->x509_ = X509_new();
  if (!cert->x509_) throw std::runtime_error("cannot allocate the DTLS certificate");
  X509* x = cert->x509_;
  unsigned char serial[8];
  RAND_bytes(serial, sizeof serial);
  serial[0] &= 0x7f;
  BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
  BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(x));
  BN_free(bn);
  X509_set_version(x, 2);
  // A day back tolerates peers whose clocks run behind ours.
  X509_gmtime_adj(X509_getm_notBefore(x), -86400L);
  X509_gmtime_adj(X509_getm_notAfter(x), 30L * 86400L);
  X509_NAME* name = X509_get_subject_name(x);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("dravnok"), -1, -1, 0);
  X509_set_issuer_name(x, name);
  if (X509_set_pubkey(x, cert->key_) != 1 || X509_sign(x, cert->key_, EVP_sha256()) == 0) {
    throw std::runtime_error("cannot sign the DTLS certificate");
  }
  cert->fingerprint_ = fingerprintOf(x, "sha-256");
  return cert;
}

Certificate::~Certificate() {
  X509_free(x509_);
  EVP_PKEY_free(key_);
}

bool Certificate::supportedAlgorithm(const std::string& algorithm) { return digestFor(algorithm) != nullptr; }

std::string Certificate::fingerprintOf(X509* cert, const std::string& algorithm) {
  const EVP_MD* md = digestFor(algorithm);
  if (!md || !cert) return "";
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (X509_digest(cert, md, digest, &length) != 1) return "";
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned i = 0; i < length; ++i) {
    if (i) out += ':';
    out += hex[digest[i] >> 4];
    out += hex[digest[i] & 15];
  }
  return out;
}

} // namespace rtc::impl
