#include "agent/tls_trust.h"

#include <poll.h>

namespace dravnok::agent {

void addSystemCertificates(X509_STORE* store) { X509_STORE_set_default_paths(store); }

bool waitSocket(int socket, bool forRead, bool forWrite, std::chrono::milliseconds timeout) {
  pollfd entry{socket, static_cast<short>((forRead ? POLLIN : 0) | (forWrite ? POLLOUT : 0)), 0};
  return ::poll(&entry, 1, static_cast<int>(timeout.count())) > 0;
}

} // namespace dravnok::agent
