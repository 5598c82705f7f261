#include "session/video_offer.h"

#include <cstdlib>
#include <map>
#include <optional>
#include <set>

namespace dravnok {
namespace {

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// The decimal number at the start of `text`, as atoi reads it.
int leadingNumber(std::string_view text) { return std::atoi(std::string(text).c_str()); }

} // namespace

std::string profileLevelIdOf(std::string_view fmtp) {
  static constexpr std::string_view kKey = "profile-level-id=";
  auto at = fmtp.find(kKey);
  if (at == std::string_view::npos) return {};
  return std::string(fmtp.substr(at + kKey.size(), 6));
}

bool scanVideoOffer(std::string_view sdp, VideoOfferInfo& out) {
  if (sdp.empty()) return false;
  bool inVideoSection = false;
  std::set<int> h264Types;
  std::map<int, std::string> formats;
  std::string mid;

  for (size_t start = 0; start <= sdp.size();) {
    size_t end = sdp.find('\n', start);
    std::string_view line = sdp.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    start = end == std::string_view::npos ? sdp.size() + 1 : end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    if (startsWith(line, "m=")) {
      inVideoSection = startsWith(line, "m=video");
      continue;
    }
    if (!inVideoSection) continue;
    if (startsWith(line, "a=mid:")) {
      mid = std::string(line.substr(6));
    } else if (startsWith(line, "a=rtpmap:")) {
      std::string_view rest = line.substr(9);
      auto blank = rest.find(' ');
      // Only the dynamic types: 96..127, and 35..63 that browsers take once
      // those are full. 0..34 are fixed assignments, 64..95 would read as
      // RTCP on the shared port, and the RTP header has 7 bits for the type.
      const int type = leadingNumber(rest);
      const bool dynamic = (type >= 35 && type <= 63) || (type >= 96 && type <= 127);
      if (blank != std::string_view::npos && startsWith(rest.substr(blank + 1), "H264/") && dynamic)
        h264Types.insert(type);
    } else if (startsWith(line, "a=fmtp:")) {
      std::string_view rest = line.substr(7);
      auto blank = rest.find(' ');
      if (blank != std::string_view::npos) formats[leadingNumber(rest)] = std::string(rest.substr(blank + 1));
    }
  }
  if (mid.empty()) return false;
  out.mid = mid;

  struct Choice {
    int payloadType;
    std::string plid;
  };
  std::optional<Choice> constrainedBaseline, baseline, fallback;
  for (int type : h264Types) {
    auto format = formats.find(type);
    std::string_view text = format == formats.end() ? std::string_view() : std::string_view(format->second);
    if (text.find("packetization-mode=1") == std::string_view::npos) continue;
    std::string plid = profileLevelIdOf(text);
    if (plid == "42e01f" && !constrainedBaseline) {
      constrainedBaseline = Choice{type, plid};
    } else if (plid == "42001f" && !baseline) {
      baseline = Choice{type, plid};
    } else if (!fallback) {
      fallback = Choice{type, plid};
    }
  }
  const auto& chosen = constrainedBaseline ? constrainedBaseline : baseline ? baseline : fallback;
  if (!chosen) return false;
  out.payloadType = chosen->payloadType;
  out.profileLevelId = chosen->plid;
  return true;
}

} // namespace dravnok
