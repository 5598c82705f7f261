#include "agent/agent_options.h"

#include <charconv>

namespace dravnok::agent {

const char* const kAgentUsage = "usage: remote-agent [options]\n"
                                "  --listen HOST:PORT        where to serve the viewer (default 127.0.0.1:8080)\n"
                                "  --mode control|view-only  what the viewer may do (default control)\n"
                                "  --viewer-name NAME        the supporter's name shown on the banner\n"
                                "  --ice URL[,USER,PASS]     a STUN or TURN server (repeatable)\n"
                                "  --secret SECRET           what the viewer must present (default: a random one)\n"
                                "  --helper PATH             the remote-helper program (default: beside the agent)\n"
                                "  --viewer-dir DIR          serve the viewer page from DIR\n";

namespace {

bool parseListen(const std::string& value, AgentOptions& options) {
  auto colon = value.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string host = value.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  int port = 0;
  auto portText = std::string_view(value).substr(colon + 1);
  auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
  if (ec != std::errc{} || end != portText.data() + portText.size() || port < 1 || port > 65535) return false;
  options.host = host;
  options.port = port;
  return true;
}

nlohmann::json iceServer(const std::string& value) {
  // URL[,USER,CREDENTIAL]: the credential may itself hold commas.
  auto first = value.find(',');
  nlohmann::json server = {{"urls", value.substr(0, first)}};
  if (first != std::string::npos) {
    auto second = value.find(',', first + 1);
    server["username"] = value.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    server["credential"] = second == std::string::npos ? "" : value.substr(second + 1);
  }
  return server;
}

} // namespace

ParsedOptions parseAgentOptions(std::span<const std::string> args) {
  AgentOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (name == "--help" || name == "-h") return {std::nullopt, "help"};
    if (i + 1 >= args.size()) return {std::nullopt, name + " needs a value"};
    const std::string& value = args[++i];
    if (name == "--listen") {
      if (!parseListen(value, options)) return {std::nullopt, "--listen wants HOST:PORT, not '" + value + "'"};
    } else if (name == "--mode") {
      if (value != "control" && value != "view-only")
        return {std::nullopt, "--mode is control or view-only, not '" + value + "'"};
      options.mode = value;
    } else if (name == "--viewer-name") {
      options.viewerName = value;
    } else if (name == "--ice") {
      options.iceServers.push_back(iceServer(value));
    } else if (name == "--secret") {
      if (value.empty()) return {std::nullopt, "--secret must not be empty"};
      options.secret = value;
    } else if (name == "--helper") {
      options.helperPath = value;
    } else if (name == "--viewer-dir") {
      options.viewerDir = value;
    } else {
      return {std::nullopt, "unknown option " + name};
    }
  }
  return {options, ""};
}

} // namespace dravnok::agent
