#pragma once
// The checks every request passes before its body is read: that it was sent
// to this agent by name (no rebound DNS name of another site), from the
// agent's own page (no cross-site post), as JSON and small.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dravnok::agent {

// Session commands are a few hundred bytes; an offer a few kilobytes.
inline constexpr size_t kMaxBodyBytes = 64 * 1024;

struct RequestRules {
  std::string listenHost; // as given to --listen, without brackets
  int port = 0;
  bool tls = false;
  std::vector<std::string> allowHosts;
};

// The headers that matter, each absent when the request has none; `count`
// values above one mean the header was repeated.
struct RequestHead {
  std::string_view method;
  std::optional<std::string_view> host;
  std::optional<std::string_view> origin;
  std::optional<std::string_view> contentType;
  std::optional<std::string_view> contentLength;
  bool chunked = false;
  bool repeatedHeader = false; // Host, Origin or Content-Length given twice
};

struct Refusal {
  int status;
  std::string message;
};

std::optional<Refusal> checkRequest(const RequestRules& rules, const RequestHead& head);

// Whether a Host header names this agent (see RequestRules).
bool hostAllowed(const RequestRules& rules, std::string_view host);

} // namespace dravnok::agent
