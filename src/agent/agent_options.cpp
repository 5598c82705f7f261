#include "agent/agent_options.h"

#include "agent/ip_literal.h"
#include "agent/server_config.h"

#include <algorithm>
#include <charconv>
#include <fstream>

namespace dravnok::agent {

const char* const kAgentUsage =
    "usage: remote-agent [options]\n"
    "  --listen HOST:PORT        where to serve the viewer (default 127.0.0.1:8080); off loopback the\n"
    "                            agent speaks HTTPS only\n"
    "  --mode control|view-only  what the viewer may do (default control)\n"
    "  --viewer-name NAME        the supporter's name shown on the banner\n"
    "  --ice URL[,USER,PASS]     a STUN or TURN server (repeatable)\n"
    "  --secret SECRET           what the viewer must present, at least 16 characters (default: a random\n"
    "                            one); other users see it in the process list, unlike these two:\n"
    "  --secret-file FILE        the secret is the first line of FILE\n"
    "                            (or set DRAVNOK_AGENT_SECRET)\n"
    "  --allow-host NAME         a name or address the viewer's browser may use for this machine\n"
    "                            (repeatable)\n"
    "  --tls-cert FILE           HTTPS certificate (PEM) with --tls-key FILE; without them a\n"
    "                            self-signed one is made at start and its fingerprint printed\n"
    "  --insecure-http           plain HTTP off loopback: anyone on the path reads the secret and\n"
    "                            the signalling and can take over the session\n"
    "  --server URL              connect out to the support server at https://NAME[:PORT] instead of\n"
    "                            listening, and print the link for the supporter (no --listen,\n"
    "                            --secret*, --tls-*, --allow-host, --insecure-http, --viewer-dir)\n"
    "  --server-ca FILE          also trust the certificate authorities in FILE (PEM) for the\n"
    "                            support server and its brokers\n"
    "  --open-timeout SECONDS    end a session whose page never opens it (default 30)\n"
    "  --helper PATH             the remote-helper program (default: beside the agent)\n"
    "  --viewer-dir DIR          serve the viewer page from DIR instead of the built-in one\n"
    "  --version                 the version and the commit this program was built from\n";

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

std::optional<std::string> firstLineOf(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string line(4096, '\0');
  file.read(line.data(), static_cast<std::streamsize>(line.size()));
  line.resize(static_cast<size_t>(file.gcount()));
  line = line.substr(0, line.find_first_of("\r\n"));
  return line;
}

} // namespace

bool isLoopbackAddress(std::string_view host) {
  std::string bytes = ipLiteralBytes(host);
  if (bytes.size() == 4) return bytes[0] == 127;
  if (bytes.size() == 16) return bytes == std::string(15, '\0') + '\1';
  return host == "localhost";
}

bool isWildcardAddress(std::string_view host) { return host == "0.0.0.0" || host == "::" || host.empty(); }

bool usesTls(const AgentOptions& options) {
  return !options.tlsCert.empty() || (!isLoopbackAddress(options.host) && !options.insecureHttp);
}

ParsedOptions parseAgentOptions(std::span<const std::string> args, std::optional<std::string_view> environmentSecret) {
  AgentOptions options;
  std::optional<std::string> secret;
  std::string listeningOption; // the first option that only listening uses
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (name == "--help" || name == "-h") return {std::nullopt, "help"};
    if (name == "--version") return {std::nullopt, "version"};
    static constexpr std::string_view kListeningOptions[] = {"--listen",        "--secret",    "--secret-file",
                                                             "--tls-cert",      "--tls-key",   "--allow-host",
                                                             "--insecure-http", "--viewer-dir"};
    if (listeningOption.empty() &&
        std::find(std::begin(kListeningOptions), std::end(kListeningOptions), name) != std::end(kListeningOptions))
      listeningOption = name;
    if (name == "--insecure-http") {
      options.insecureHttp = true;
      continue;
    }
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
      secret = value;
      options.secretOnCommandLine = true;
    } else if (name == "--secret-file") {
      options.secretOnCommandLine = false;
      secret = firstLineOf(value);
      if (!secret) return {std::nullopt, "cannot read the secret from " + value};
    } else if (name == "--allow-host") {
      bool ipv6 = ipLiteralBytes(value).size() == 16;
      if (value.empty() || (!ipv6 && value.find_first_of(":/@[] ") != std::string::npos))
        return {std::nullopt, "--allow-host wants a host name or address, not '" + value + "'"};
      options.allowHosts.push_back(value);
    } else if (name == "--tls-cert") {
      options.tlsCert = value;
    } else if (name == "--tls-key") {
      options.tlsKey = value;
    } else if (name == "--open-timeout") {
      int seconds = 0;
      auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
      if (ec != std::errc{} || end != value.data() + value.size() || seconds < 1 || seconds > 3600)
        return {std::nullopt, "--open-timeout wants 1 to 3600 seconds, not '" + value + "'"};
      options.openTimeout = std::chrono::seconds(seconds);
    } else if (name == "--server") {
      if (!parseServerUrl(value)) return {std::nullopt, "--server wants https://NAME[:PORT], not '" + value + "'"};
      options.serverUrl = value;
    } else if (name == "--server-ca") {
      options.serverCa = value;
    } else if (name == "--helper") {
      options.helperPath = value;
    } else if (name == "--viewer-dir") {
      options.viewerDir = value;
    } else {
      return {std::nullopt, "unknown option " + name};
    }
  }
  if (!options.serverUrl.empty()) {
    if (!listeningOption.empty()) return {std::nullopt, listeningOption + " makes no sense with --server"};
    return {options, ""};
  }
  if (!options.serverCa.empty()) return {std::nullopt, "--server-ca goes with --server"};
  if (!secret && environmentSecret) secret = std::string(*environmentSecret);
  if (secret) {
    if (secret->size() < kMinSecretLength)
      return {std::nullopt, "the secret must have at least " + std::to_string(kMinSecretLength) + " characters"};
    options.secret = *secret;
  }
  if (options.tlsCert.empty() != options.tlsKey.empty()) return {std::nullopt, "--tls-cert and --tls-key go together"};
  if (options.insecureHttp && !options.tlsCert.empty())
    return {std::nullopt, "--insecure-http and --tls-cert exclude each other"};
  return {options, ""};
}

} // namespace dravnok::agent
