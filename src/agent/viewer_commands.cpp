#include "agent/viewer_commands.h"

namespace dravnok::agent {

std::optional<nlohmann::json> candidateCommand(const nlohmann::json& body) {
  auto it = body.find("candidate");
  if (it == body.end() || it->is_null()) return nlohmann::json{{"cmd", "ice"}, {"candidate", nullptr}};
  if (!it->is_object()) return std::nullopt;
  nlohmann::json candidate = nlohmann::json::object();
  for (const char* key : {"candidate", "sdpMid", "usernameFragment"}) {
    auto member = it->find(key);
    if (member == it->end() || member->is_null()) continue;
    if (!member->is_string()) return std::nullopt;
    candidate[key] = member->get<std::string>();
  }
  auto index = it->find("sdpMLineIndex");
  if (index != it->end() && !index->is_null()) {
    if (!index->is_number_unsigned()) return std::nullopt;
    candidate["sdpMLineIndex"] = index->get<uint64_t>();
  }
  return nlohmann::json{{"cmd", "ice"}, {"candidate", std::move(candidate)}};
}

std::optional<nlohmann::json> offerCommand(const nlohmann::json& body) {
  auto sdp = body.find("sdp");
  if (sdp == body.end() || !sdp->is_string()) return std::nullopt;
  return nlohmann::json{{"cmd", "offer"}, {"sdp", sdp->get<std::string>()}};
}

} // namespace dravnok::agent
