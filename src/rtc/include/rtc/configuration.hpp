#pragma once
#include "rtc/common.hpp"

#include <vector>

namespace rtc {

struct IceServer {
  enum class Type { Stun, Turn };
  enum class RelayType { TurnUdp, TurnTcp, TurnTls };

  // Parses "stun:host[:port]", "turn:host[:port][?transport=udp|tcp]" and
  // "turns:host[:port][?transport=tcp]"; also accepts user:password@ before the
  // host. Throws std::invalid_argument naming the URL when it cannot be used.
  IceServer(const string& url);
  IceServer(string hostname, uint16_t port);
  IceServer(string hostname, uint16_t port, string username, string password, RelayType relayType = RelayType::TurnUdp);

  string hostname;
  uint16_t port = 3478;
  Type type = Type::Stun;
  string username;
  string password;
  RelayType relayType = RelayType::TurnUdp;
};

struct Configuration {
  std::vector<IceServer> iceServers;
  uint16_t portRangeBegin = 1024;
  uint16_t portRangeEnd = 65535;
  optional<size_t> mtu;
  optional<size_t> maxMessageSize;
  bool disableAutoNegotiation = false;
};

} // namespace rtc
