// There is no elevated desktop to reach here: the client never connects and
// every event is injected by the host itself.
#include "relay/relay_client.h"

namespace dravnok::relay {

struct RelayClient::Impl {};

RelayClient::RelayClient(LogFn, RelayClientSeams) {}
RelayClient::~RelayClient() = default;
void RelayClient::start(uint32_t, int32_t, int32_t, int32_t, int32_t) {}
void RelayClient::stop() {}
bool RelayClient::forward(const std::string&) { return false; }
void RelayClient::setDisplay(int32_t, int32_t, int32_t, int32_t) {}
bool RelayClient::connected() const { return false; }

} // namespace dravnok::relay
