#include "agent/server_config.h"

#include "agent/ip_literal.h"
#include "common/bounded_json.h"

#include <algorithm>
#include <charconv>

namespace dravnok::agent {
namespace {

constexpr size_t kMaxBrokers = 16;
constexpr size_t kMaxPageBytes = 512;

bool nameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// NAME[:PORT] where NAME is a host name, an IPv4 literal or a bracketed IPv6 one.
std::optional<Endpoint> parseHostPort(std::string_view text, int defaultPort) {
  Endpoint endpoint;
  std::string_view rest;
  if (text.starts_with('[')) {
    auto close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    endpoint.host = text.substr(1, close - 1);
    if (ipLiteralBytes(endpoint.host).size() != 16) return std::nullopt;
    rest = text.substr(close + 1);
  } else {
    auto colon = text.find(':');
    endpoint.host = text.substr(0, colon);
    if (endpoint.host.empty() || !std::all_of(endpoint.host.begin(), endpoint.host.end(), nameCharacter))
      return std::nullopt;
    rest = colon == std::string_view::npos ? std::string_view() : text.substr(colon);
  }
  endpoint.port = defaultPort;
  if (!rest.empty()) {
    if (rest[0] != ':') return std::nullopt;
    rest.remove_prefix(1);
    auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), endpoint.port);
    if (ec != std::errc{} || end != rest.data() + rest.size() || endpoint.port < 1 || endpoint.port > 65535)
      return std::nullopt;
  }
  if (endpoint.port == 0) return std::nullopt;
  return endpoint;
}

std::optional<Endpoint> parseUrl(std::string_view url, std::string_view scheme, int defaultPort) {
  if (!url.starts_with(scheme)) return std::nullopt;
  std::string_view rest = url.substr(scheme.size());
  if (rest.ends_with('/')) rest.remove_suffix(1);
  auto endpoint = parseHostPort(rest, defaultPort);
  if (endpoint) endpoint->text = url;
  return endpoint;
}

std::string textOf(const nlohmann::json& document, const char* name) {
  auto it = document.find(name);
  return it != document.end() && it->is_string() ? it->get<std::string>() : std::string();
}

} // namespace

std::optional<Endpoint> parseServerUrl(std::string_view url) { return parseUrl(url, "https://", 443); }

std::optional<Endpoint> parseBrokerUrl(std::string_view url) { return parseUrl(url, "tls://", 0); }

std::optional<ServerConfig> parseServerConfig(std::string_view text, const Endpoint& server, std::string& error) {
  auto document = parseBoundedJson(text, kMaxServerConfigBytes, 4);
  if (!document || !document->is_object() || document->value("version", nlohmann::json()) != 1) {
    error = "it is not a version 1 server description";
    return std::nullopt;
  }
  auto brokers = document->find("brokers");
  if (brokers == document->end() || !brokers->is_array() || brokers->empty() || brokers->size() > kMaxBrokers) {
    error = "it lists no brokers";
    return std::nullopt;
  }
  std::vector<Endpoint> endpoints;
  for (const auto& url : *brokers) {
    auto endpoint = url.is_string() ? parseBrokerUrl(url.get<std::string>()) : std::nullopt;
    if (!endpoint) {
      error = "a broker is not tls://NAME:PORT: " + url.dump().substr(0, 100);
      return std::nullopt;
    }
    endpoints.push_back(std::move(*endpoint));
  }
  std::string account = textOf(*document, "account");
  auto signer = Nkey::fromSeedText(textOf(*document, "hostSigner"));
  if (!isPublicNkey(account, NkeyKind::Account) || !signer || signer->kind() != NkeyKind::Account) {
    error = "its account or host signer is not an account key";
    return std::nullopt;
  }
  std::string page = document->contains("page") ? textOf(*document, "page") : "https://" + server.text.substr(8);
  if (!page.ends_with('/')) page += '/';
  bool plain = std::all_of(page.begin(), page.end(), [](char c) { return c > ' ' && c < 127 && c != '#'; });
  if (!page.starts_with("https://") || page.size() > kMaxPageBytes || !plain) {
    error = "its page is not an https address";
    return std::nullopt;
  }
  return ServerConfig{std::move(endpoints), std::move(account), std::move(*signer), std::move(page)};
}

} // namespace dravnok::agent
