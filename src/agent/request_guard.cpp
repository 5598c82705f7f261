#include "agent/request_guard.h"

#include "agent/agent_options.h"
#include "agent/ip_literal.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace dravnok::agent {
namespace {

std::string lowercase(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool nameAllowed(const RequestRules& rules, const std::string& name, bool bracketed) {
  std::string address = ipLiteralBytes(name);
  // An IPv6 literal only in brackets, an IPv4 one never.
  if (!address.empty() && (address.size() == 16) != bracketed) return false;
  if (address.empty() && bracketed) return false;
  bool loopback = isLoopbackAddress(rules.listenHost);
  bool wildcard = isWildcardAddress(rules.listenHost);
  if (!address.empty()) {
    // A rebound name never arrives as an address, so on a wildcard address
    // any literal is this machine.
    if (wildcard || address == ipLiteralBytes(rules.listenHost)) return true;
    if (loopback && isLoopbackAddress(name)) return true;
  } else if (name == "localhost" && (loopback || wildcard)) {
    return true;
  }
  // Names, and addresses that reach the agent through a forwarded port.
  return std::any_of(rules.allowHosts.begin(), rules.allowHosts.end(), [&](const std::string& allowed) {
    std::string text = lowercase(allowed);
    return address.empty() ? text == name : ipLiteralBytes(text) == address;
  });
}

} // namespace

bool hostAllowed(const RequestRules& rules, std::string_view host) {
  std::string text = lowercase(host);
  std::string name;
  std::string_view portText;
  bool bracketed = !text.empty() && text.front() == '[';
  if (bracketed) {
    auto close = text.find(']');
    if (close == std::string::npos) return false;
    name = text.substr(1, close - 1);
    std::string_view rest = std::string_view(text).substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':' || rest.size() == 1) return false;
      portText = rest.substr(1);
    }
  } else {
    auto colon = text.find(':');
    name = text.substr(0, colon);
    if (colon != std::string::npos) {
      portText = std::string_view(text).substr(colon + 1);
      if (portText.empty()) return false;
    }
  }
  if (name.empty()) return false;
  int port = rules.tls ? 443 : 80; // what a browser leaves out
  if (!portText.empty()) {
    auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (ec != std::errc{} || end != portText.data() + portText.size()) return false;
  }
  return port == rules.port && nameAllowed(rules, name, bracketed);
}

std::optional<Refusal> checkRequest(const RequestRules& rules, const RequestHead& head) {
  if (head.repeatedHeader) return Refusal{400, "a header that must appear once was repeated"};
  if (!head.host || !hostAllowed(rules, *head.host))
    return Refusal{403, "this agent is not reached by that name (see --allow-host)"};
  if (head.origin) {
    std::string own = std::string(rules.tls ? "https://" : "http://") + lowercase(*head.host);
    if (lowercase(*head.origin) != own) return Refusal{403, "requests from other sites are refused"};
  }
  if (head.chunked) return Refusal{411, "a request body needs a Content-Length"};
  size_t length = 0;
  if (head.contentLength) {
    auto text = trim(*head.contentLength);
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), length);
    if (ec != std::errc{} || end != text.data() + text.size() || text.empty())
      return Refusal{400, "a malformed Content-Length"};
    if (length > kMaxBodyBytes) return Refusal{413, "the request body is too large"};
  }
  if (head.method == "POST") {
    if (!head.contentLength) return Refusal{411, "a request body needs a Content-Length"};
    std::string_view type = head.contentType.value_or("");
    type = trim(type.substr(0, type.find(';')));
    if (lowercase(type) != "application/json") return Refusal{415, "the request body must be application/json"};
  }
  return std::nullopt;
}

} // namespace dravnok::agent
