#include "session/ice_servers.h"

#include <nlohmann/json.hpp>

namespace dravnok {
namespace {

std::string stringMember(const nlohmann::json& object, const char* key) {
  auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

} // namespace

std::vector<IceServerEntry> parseIceServers(const nlohmann::json& servers) {
  std::vector<IceServerEntry> entries;
  if (!servers.is_array()) return entries;
  for (const auto& server : servers) {
    if (!server.is_object()) continue;
    auto urls = server.find("urls");
    if (urls == server.end()) continue;
    std::string username = stringMember(server, "username");
    std::string credential = stringMember(server, "credential");
    auto add = [&](const nlohmann::json& url) {
      if (url.is_string()) entries.push_back({url.get<std::string>(), username, credential});
    };
    if (urls->is_string()) {
      add(*urls);
    } else if (urls->is_array()) {
      for (const auto& url : *urls) add(url);
    }
  }
  return entries;
}

} // namespace dravnok
