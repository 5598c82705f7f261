#pragma once
#include <nlohmann/json.hpp>

#include <optional>
#include <span>
#include <string>

namespace dravnok::agent {

struct AgentOptions {
  std::string host = "127.0.0.1";
  int port = 8080;
  std::string mode = "control"; // or "view-only"
  std::string viewerName;
  nlohmann::json iceServers = nlohmann::json::array(); // RTCIceServer objects
  std::string secret;                                  // empty: make one up
  std::string helperPath;                              // empty: beside the agent
  std::string viewerDir;                               // empty: the built-in page
};

struct ParsedOptions {
  std::optional<AgentOptions> options;
  std::string error; // set when options is empty; "help" for --help
};

// --listen HOST:PORT, --mode control|view-only, --viewer-name NAME,
// --ice URL[,USER,CREDENTIAL] (repeatable), --secret S, --helper PATH,
// --viewer-dir DIR.
ParsedOptions parseAgentOptions(std::span<const std::string> args);

extern const char* const kAgentUsage;

} // namespace dravnok::agent
