#pragma once
// Whom the agent trusts as the support server and its brokers: the system's
// certificate authorities and, when given (--server-ca), those in a PEM file.
#include <openssl/ssl.h>

#include <chrono>
#include <memory>
#include <string>

namespace dravnok::agent {

// A new store for the caller to own or hand on; throws std::runtime_error
// when `caFile` cannot be read.
X509_STORE* makeTrustStore(const std::string& caFile);
// A TLS client context that checks servers against that store.
std::shared_ptr<SSL_CTX> makeClientTlsContext(const std::string& caFile);

// Platform parts (x11/, win32/): the system's authorities, and waiting on
// a socket that OpenSSL opened.
void addSystemCertificates(X509_STORE* store);
// False when `timeout` passed first.
bool waitSocket(int socket, bool forRead, bool forWrite, std::chrono::milliseconds timeout);

} // namespace dravnok::agent
