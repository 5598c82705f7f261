#pragma once
#include <nlohmann/json_fwd.hpp>

#include <string>
#include <vector>

namespace dravnok {

struct IceServerEntry {
  std::string url;
  std::string username;
  std::string credential;

  bool operator==(const IceServerEntry&) const = default;
};

// The `iceServers` member of a start command: every URL of every object
// gives one entry with that object's user name and credential.
std::vector<IceServerEntry> parseIceServers(const nlohmann::json& servers);

} // namespace dravnok
