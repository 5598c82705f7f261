#include "agent/tls_identity.h"

#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <stdexcept>

namespace dravnok::agent {
namespace {

std::string fingerprintOf(X509* certificate) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1)
    throw std::runtime_error("cannot take the certificate's fingerprint");
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    if (i) text += ':';
    text += kDigits[digest[i] >> 4];
    text += kDigits[digest[i] & 15];
  }
  return text;
}

using File = std::unique_ptr<FILE, decltype(&std::fclose)>;

File openFile(const std::string& path) {
  File file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) throw std::runtime_error("cannot read " + path);
  return file;
}

} // namespace

TlsIdentity loadTlsIdentity(const std::string& certificatePath, const std::string& keyPath) {
  TlsIdentity identity;
  identity.certificate.reset(PEM_read_X509(openFile(certificatePath).get(), nullptr, nullptr, nullptr));
  if (!identity.certificate) throw std::runtime_error(certificatePath + " holds no PEM certificate");
  identity.key.reset(PEM_read_PrivateKey(openFile(keyPath).get(), nullptr, nullptr, nullptr));
  if (!identity.key) throw std::runtime_error(keyPath + " holds no PEM private key without a passphrase");
  if (X509_check_private_key(identity.certificate.get(), identity.key.get()) != 1)
    throw std::runtime_error(keyPath + " is not the key of " + certificatePath);
  identity.fingerprint = fingerprintOf(identity.certificate.get());
  return identity;
}

TlsIdentity makeSelfSignedIdentity(std::string_view hostName) {
  TlsIdentity identity;
  identity.key.reset(EVP_EC_gen("P-256"));
  identity.certificate.reset(X509_new());
  X509* certificate = identity.certificate.get();
  if (!identity.key || !certificate) throw std::runtime_error("cannot make a TLS key");
  unsigned char serial[16];
  if (RAND_bytes(serial, sizeof serial) != 1) throw std::runtime_error("no random numbers from the system");
  serial[0] &= 0x7f; // a positive serial number
  std::unique_ptr<BIGNUM, decltype(&BN_free)> number(BN_bin2bn(serial, sizeof serial, nullptr), BN_free);
  std::string name = hostName.empty() ? std::string("remote-agent") : std::string(hostName);
  X509_NAME* subject = X509_get_subject_name(certificate);
  bool ok = number && X509_set_version(certificate, 2) == 1 &&
            BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(certificate)) &&
            X509_gmtime_adj(X509_getm_notBefore(certificate), -3600) &&
            X509_gmtime_adj(X509_getm_notAfter(certificate), 365L * 24 * 3600) &&
            X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0) == 1 &&
            X509_set_issuer_name(certificate, subject) == 1 && X509_set_pubkey(certificate, identity.key.get()) == 1 &&
            X509_sign(certificate, identity.key.get(), EVP_sha256()) > 0;
  if (!ok) throw std::runtime_error("cannot make a self-signed certificate");
  identity.fingerprint = fingerprintOf(certificate);
  return identity;
}

} // namespace dravnok::agent
