#pragma once
#include <nlohmann/json.hpp>

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dravnok::agent {

// Shorter secrets can be guessed over the network despite the throttle.
inline constexpr size_t kMinSecretLength = 16;

struct AgentOptions {
  std::string host = "127.0.0.1";
  int port = 8080;
  std::string mode = "control"; // or "view-only"
  std::string viewerName;
  nlohmann::json iceServers = nlohmann::json::array(); // RTCIceServer objects
  std::string secret;                                  // empty: make one up
  bool secretOnCommandLine = false;                    // --secret: other users see it in ps
  std::string helperPath;                              // empty: beside the agent
  std::string viewerDir;                               // empty: the built-in page
  std::vector<std::string> allowHosts;                 // more names the Host header may give
  std::string tlsCert;                                 // PEM files; both empty: a certificate made at start
  std::string tlsKey;
  bool insecureHttp = false; // plain HTTP although listening off loopback
  std::string serverUrl;     // --server: connect out instead of listening
  std::string serverCa;      // more certificate authorities for it (PEM)
  // A session whose page never opens its event stream ends after this.
  std::chrono::seconds openTimeout{30};
};

struct ParsedOptions {
  std::optional<AgentOptions> options;
  std::string error; // set when options is empty; "help" for --help, "version" for --version
};

// --listen HOST:PORT, --mode control|view-only, --viewer-name NAME,
// --ice URL[,USER,CREDENTIAL] (repeatable), --secret S, --secret-file FILE,
// --helper PATH, --viewer-dir DIR, --allow-host NAME (repeatable),
// --tls-cert FILE, --tls-key FILE, --insecure-http, --open-timeout SECONDS,
// --server URL, --server-ca FILE (server mode refuses the listening ones).
// Without --secret or --secret-file the secret is `environmentSecret` when
// given (DRAVNOK_AGENT_SECRET).
ParsedOptions parseAgentOptions(std::span<const std::string> args,
                                std::optional<std::string_view> environmentSecret = std::nullopt);

// 127.0.0.0/8 and ::1: only this machine can reach the agent.
bool isLoopbackAddress(std::string_view host);
// Listening on a wildcard address: every interface, loopback included.
bool isWildcardAddress(std::string_view host);
bool usesTls(const AgentOptions& options);

extern const char* const kAgentUsage;

} // namespace dravnok::agent
