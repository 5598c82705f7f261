#pragma once
// Where a host in server mode finds the support server and what the server
// publishes for hosts at /dravnok-server.json:
//   {"version":1,"brokers":["tls://NAME:4222"],"account":"A...","hostSigner":"SA...",
//    "page":"https://NAME[:PORT]/"}
#include "agent/nkey.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dravnok::agent {

struct Endpoint {
  std::string host; // an IPv6 literal without its brackets
  int port = 0;
  std::string text; // as given, for the log
};

// https://NAME[:PORT] with an optional "/" and nothing else.
std::optional<Endpoint> parseServerUrl(std::string_view url);
// tls://NAME:PORT: the agent speaks to brokers over TLS only.
std::optional<Endpoint> parseBrokerUrl(std::string_view url);

// Larger documents are refused unread.
inline constexpr size_t kMaxServerConfigBytes = 65536;

struct ServerConfig {
  std::vector<Endpoint> brokers;
  std::string account;
  Nkey hostSigner;
  std::string page; // where the link points, ending in "/"
};

// Nothing, with the reason in `error`, when the document breaks its form.
std::optional<ServerConfig> parseServerConfig(std::string_view text, const Endpoint& server, std::string& error);

} // namespace dravnok::agent
