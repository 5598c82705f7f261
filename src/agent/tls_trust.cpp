#include "agent/tls_trust.h"

#include <stdexcept>

namespace dravnok::agent {

X509_STORE* makeTrustStore(const std::string& caFile) {
  std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(X509_STORE_new(), X509_STORE_free);
  if (!store) throw std::runtime_error("cannot make a certificate store");
  addSystemCertificates(store.get());
  if (!caFile.empty() && X509_STORE_load_file(store.get(), caFile.c_str()) != 1)
    throw std::runtime_error("cannot read the certificate authorities in " + caFile);
  return store.release();
}

std::shared_ptr<SSL_CTX> makeClientTlsContext(const std::string& caFile) {
  std::shared_ptr<SSL_CTX> context(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
  if (!context || SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION) != 1)
    throw std::runtime_error("cannot set up TLS");
  SSL_CTX_set_cert_store(context.get(), makeTrustStore(caFile));
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
  // Writes go out from whichever thread publishes, in pieces when the
  // socket is full.
  SSL_CTX_set_mode(context.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  return context;
}

} // namespace dravnok::agent
