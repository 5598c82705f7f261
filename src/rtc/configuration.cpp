#include "rtc/configuration.hpp"

#include "sdp_text.hpp"

#include <stdexcept>

namespace rtc {
namespace {

[[noreturn]] void reject(const string& url, const string& why) {
  throw std::invalid_argument("invalid ICE server URL '" + url + "': " + why);
}

} // namespace

IceServer::IceServer(const string& url) {
  size_t colon = url.find(':');
  if (colon == string::npos) reject(url, "no scheme");
  string scheme = impl::toLower(url.substr(0, colon));
  string rest = url.substr(colon + 1);
  // Tolerate the "scheme://" form that some agents send.
  if (rest.rfind("//", 0) == 0) rest.erase(0, 2);

  bool secure = false;
  if (scheme == "stun") {
    type = Type::Stun;
  } else if (scheme == "stuns") {
    reject(url, "STUN over TLS is not supported");
  } else if (scheme == "turn") {
    type = Type::Turn;
  } else if (scheme == "turns") {
    type = Type::Turn;
    secure = true;
  } else {
    reject(url, "unknown scheme '" + scheme + "'");
  }

  string query;
  if (size_t q = rest.find('?'); q != string::npos) {
    query = rest.substr(q + 1);
    rest.erase(q);
  }
  if (size_t at = rest.rfind('@'); at != string::npos) {
    string credentials = rest.substr(0, at);
    rest.erase(0, at + 1);
    size_t sep = credentials.find(':');
    username = credentials.substr(0, sep);
    if (sep != string::npos) password = credentials.substr(sep + 1);
  }

  string portText;
  if (!rest.empty() && rest.front() == '[') {
    size_t close = rest.find(']');
    if (close == string::npos) reject(url, "unterminated IPv6 address");
    hostname = rest.substr(1, close - 1);
    string after = rest.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') reject(url, "unexpected text after the address");
      portText = after.substr(1);
      if (portText.empty()) reject(url, "empty port");
    }
  } else {
    size_t sep = rest.find(':');
    hostname = rest.substr(0, sep);
    if (sep != string::npos) {
      portText = rest.substr(sep + 1);
      if (portText.empty()) reject(url, "empty port");
    }
  }
  if (hostname.empty()) reject(url, "no host");
  for (char c : hostname) {
    if (c == '/' || c == ' ' || c == '@' || c == '?') reject(url, "bad host");
  }

  port = secure ? 5349 : 3478;
  if (!portText.empty()) {
    auto value = impl::parseUnsigned(portText);
    if (!value || *value == 0 || *value > 65535) reject(url, "bad port '" + portText + "'");
    port = static_cast<uint16_t>(*value);
  }

  relayType = secure ? RelayType::TurnTls : RelayType::TurnUdp;
  if (!query.empty()) {
    string key = query.substr(0, query.find('='));
    string value = query.find('=') == string::npos ? "" : impl::toLower(query.substr(query.find('=') + 1));
    if (impl::toLower(key) != "transport") reject(url, "unknown parameter '" + key + "'");
    if (type != Type::Turn) reject(url, "transport is only meaningful for TURN");
    if (value == "udp") {
      if (secure) reject(url, "TURN over TLS needs TCP");
      relayType = RelayType::TurnUdp;
    } else if (value == "tcp") {
      relayType = secure ? RelayType::TurnTls : RelayType::TurnTcp;
    } else {
      reject(url, "unknown transport '" + value + "'");
    }
  }
}

IceServer::IceServer(string hostname, uint16_t port) : hostname(std::move(hostname)), port(port), type(Type::Stun) {}

IceServer::IceServer(string hostname, uint16_t port, string username, string password, RelayType relayType)
    : hostname(std::move(hostname)), port(port), type(Type::Turn), username(std::move(username)),
      password(std::move(password)), relayType(relayType) {}

} // namespace rtc
