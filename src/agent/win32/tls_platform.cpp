#include "agent/tls_trust.h"

#include <winsock2.h>

#include <wincrypt.h>

namespace dravnok::agent {

void addSystemCertificates(X509_STORE* store) {
  HCERTSTORE system = CertOpenSystemStoreW(0, L"ROOT");
  if (!system) return;
  for (PCCERT_CONTEXT entry = nullptr; (entry = CertEnumCertificatesInStore(system, entry)) != nullptr;) {
    const unsigned char* der = entry->pbCertEncoded;
    if (X509* certificate = d2i_X509(nullptr, &der, static_cast<long>(entry->cbCertEncoded))) {
      X509_STORE_add_cert(store, certificate);
      X509_free(certificate);
    }
  }
  CertCloseStore(system, 0);
}

bool waitSocket(int socket, bool forRead, bool forWrite, std::chrono::milliseconds timeout) {
  WSAPOLLFD entry{static_cast<SOCKET>(socket),
                  static_cast<SHORT>((forRead ? POLLRDNORM : 0) | (forWrite ? POLLWRNORM : 0)), 0};
  return WSAPoll(&entry, 1, static_cast<INT>(timeout.count())) > 0;
}

} // namespace dravnok::agent
