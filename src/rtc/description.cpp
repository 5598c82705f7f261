#include "rtc/description.hpp"

#include "sdp_text.hpp"

#include <cctype>
#include <random>
#include <stdexcept>

namespace rtc {
namespace {

using impl::splitWords;

string directionText(Description::Direction dir) {
  switch (dir) {
  case Description::Direction::SendOnly:
    return "sendonly";
  case Description::Direction::RecvOnly:
    return "recvonly";
  case Description::Direction::SendRecv:
    return "sendrecv";
  case Description::Direction::Inactive:
    return "inactive";
  default:
    return "";
  }
}

optional<Description::Direction> directionFrom(const string& key) {
  if (key == "sendonly") return Description::Direction::SendOnly;
  if (key == "recvonly") return Description::Direction::RecvOnly;
  if (key == "sendrecv") return Description::Direction::SendRecv;
  if (key == "inactive") return Description::Direction::Inactive;
  return nullopt;
}

// "<id>[/<direction>] <uri> [<attributes>]"; empty when the id is not one
// that RFC 8285 allows (1 to 255) or the URI is missing: such a line is
// then kept as an attribute like any unknown one.
optional<Description::Entry::ExtMap> extMapFrom(const string& value) {
  auto words = splitWords(value);
  if (words.size() < 2) return nullopt;
  Description::Entry::ExtMap map;
  string& head = words[0];
  if (size_t slash = head.find('/'); slash != string::npos) {
    auto dir = directionFrom(head.substr(slash + 1));
    if (!dir) return nullopt;
    map.direction = *dir;
    head.erase(slash);
  }
  auto id = impl::parseUnsigned(head);
  if (!id || *id < 1 || *id > 255) return nullopt;
  map.id = static_cast<int>(*id);
  map.uri = words[1];
  for (size_t i = 2; i < words.size(); ++i) map.attributes += (i > 2 ? " " : "") + words[i];
  return map;
}

string randomSessionId() {
  std::random_device device;
  std::uniform_int_distribution<uint64_t> dist(1, (uint64_t(1) << 62));
  return std::to_string(dist(device));
}

} // namespace

// ---- Entry ----

Description::Entry::Entry(string type, string mid, Direction dir)
    : type_(std::move(type)), mid_(std::move(mid)), direction_(dir) {}

void Description::Entry::parseAttribute(const string& key, const string& value, const string& line) {
  if (key == "mid") {
    mid_ = value;
  } else if (auto map = key == "extmap" ? extMapFrom(value) : nullopt) {
    extMaps_[map->id] = std::move(*map);
  } else if (auto dir = directionFrom(key)) {
    direction_ = *dir;
  } else {
    attributes_.push_back(line);
  }
}

string Description::Entry::formatLine() const {
  string line = "m=" + type_ + (removed_ ? " 0 " : " 9 ") + protocol_;
  for (const auto& f : formats_) line += " " + f;
  return line;
}

void Description::Entry::generateAttributes(std::vector<string>& lines) const {
  if (auto text = directionText(direction_); !text.empty()) lines.push_back("a=" + text);
  for (const auto& [id, map] : extMaps_) {
    string line = "a=extmap:" + std::to_string(id);
    if (auto dir = directionText(map.direction); !dir.empty()) line += "/" + dir;
    line += " " + map.uri;
    if (!map.attributes.empty()) line += " " + map.attributes;
    lines.push_back(std::move(line));
  }
  for (const auto& a : attributes_) lines.push_back("a=" + a);
}

string Description::Entry::generateSdp(const string& eol, const string& transportLines) const {
  string out = formatLine() + eol;
  out += "c=IN IP4 0.0.0.0" + eol;
  out += "a=mid:" + mid_ + eol;
  if (removed_) return out;
  out += transportLines;
  std::vector<string> lines;
  generateAttributes(lines);
  for (const auto& l : lines) out += l + eol;
  return out;
}

// ---- Application ----

namespace {
constexpr uint16_t kDefaultSctpPort = 5000;
// The streams each way our SCTP association asks for; the older form states it.
constexpr int kSctpStreams = 1024;
} // namespace

Description::Application::Application(string mid) : Entry("application", std::move(mid), Direction::Unknown) {
  protocol_ = "UDP/DTLS/SCTP";
  formats_ = {"webrtc-datachannel"};
}

void Description::Application::parseAttribute(const string& key, const string& value, const string& line) {
  if (key == "sctp-port") {
    auto port = impl::parseUnsigned(value);
    if (!port || *port > 65535) throw std::invalid_argument("bad sctp-port in SDP: '" + line + "'");
    sctpPort_ = static_cast<uint16_t>(*port);
  } else if (key == "max-message-size") {
    auto size = impl::parseUnsigned(value);
    if (!size) throw std::invalid_argument("bad max-message-size in SDP: '" + line + "'");
    maxMessageSize_ = static_cast<size_t>(*size);
  } else if (key == "sctpmap") {
    // The older form "sctpmap:5000 webrtc-datachannel 1024" carries the port.
    auto words = splitWords(value);
    if (!words.empty()) {
      if (auto port = impl::parseUnsigned(words[0]); port && *port <= 65535) sctpPort_ = static_cast<uint16_t>(*port);
    }
  } else {
    Entry::parseAttribute(key, value, line);
  }
}

string Description::Application::formatLine() const {
  string line = "m=" + type_ + (removed_ ? " 0 " : " 9 ") + protocol_ + " ";
  return line + (legacyForm() ? std::to_string(sctpPort_.value_or(kDefaultSctpPort)) : "webrtc-datachannel");
}

void Description::Application::generateAttributes(std::vector<string>& lines) const {
  Entry::generateAttributes(lines);
  if (legacyForm()) {
    lines.push_back("a=sctpmap:" + std::to_string(sctpPort_.value_or(kDefaultSctpPort)) + " webrtc-datachannel " +
                    std::to_string(kSctpStreams));
  } else if (sctpPort_) {
    lines.push_back("a=sctp-port:" + std::to_string(*sctpPort_));
  }
  if (maxMessageSize_) lines.push_back("a=max-message-size:" + std::to_string(*maxMessageSize_));
}

// ---- Media ----

Description::Media::Media(string type, string mid, Direction dir) : Entry(std::move(type), std::move(mid), dir) {
  protocol_ = "UDP/TLS/RTP/SAVPF";
}

void Description::Media::addSSRC(uint32_t ssrc, optional<string> name, optional<string> msid,
                                 optional<string> trackId) {
  ssrcs_.push_back({ssrc, std::move(name), std::move(msid), std::move(trackId)});
}

std::vector<uint32_t> Description::Media::getSSRCs() const {
  std::vector<uint32_t> out;
  for (const auto& s : ssrcs_) out.push_back(s.ssrc);
  return out;
}

optional<string> Description::Media::getCNameForSsrc(uint32_t ssrc) const {
  for (const auto& s : ssrcs_) {
    if (s.ssrc == ssrc) return s.name;
  }
  return nullopt;
}

void Description::Media::addRtpMap(RtpMap map) {
  int pt = map.payloadType;
  if (!rtpMaps_.count(pt)) formats_.push_back(std::to_string(pt));
  rtpMaps_[pt] = std::move(map);
}

bool Description::Media::hasPayloadType(int payloadType) const { return rtpMaps_.count(payloadType) != 0; }

void Description::Media::parseAttribute(const string& key, const string& value, const string& line) {
  auto ptOf = [&](const string& text) -> optional<int> {
    auto pt = impl::parseUnsigned(text);
    if (!pt || *pt > 127) return nullopt;
    return static_cast<int>(*pt);
  };
  size_t blank = value.find(' ');
  string head = value.substr(0, blank);
  string tail = blank == string::npos ? "" : value.substr(blank + 1);
  if (key == "rtpmap") {
    auto pt = ptOf(head);
    if (!pt) return; // an unusable mapping is ignored, not fatal
    auto& map = rtpMaps_[*pt];
    map.payloadType = *pt;
    size_t slash = tail.find('/');
    map.format = tail.substr(0, slash);
    if (slash != string::npos) {
      string rate = tail.substr(slash + 1);
      size_t slash2 = rate.find('/');
      if (slash2 != string::npos) {
        map.encParams = rate.substr(slash2 + 1);
        rate.erase(slash2);
      }
      map.clockRate = static_cast<int>(impl::parseUnsigned(rate).value_or(0));
    }
  } else if (key == "fmtp") {
    if (auto pt = ptOf(head)) {
      rtpMaps_[*pt].payloadType = *pt;
      rtpMaps_[*pt].fmtps.push_back(tail);
    }
  } else if (key == "rtcp-fb") {
    if (auto pt = ptOf(head)) {
      rtpMaps_[*pt].payloadType = *pt;
      rtpMaps_[*pt].rtcpFbs.push_back(tail);
    }
  } else if (key == "rtcp-mux" || key == "rtcp-rsize") {
    // Always written for our sections; both are required for bundled media.
  } else if (key == "ssrc") {
    auto ssrc = impl::parseUnsigned(head);
    if (!ssrc || *ssrc > 0xffffffffu) return;
    auto id = static_cast<uint32_t>(*ssrc);
    Ssrc* entry = nullptr;
    for (auto& s : ssrcs_) {
      if (s.ssrc == id) entry = &s;
    }
    if (!entry) {
      ssrcs_.push_back({id, nullopt, nullopt, nullopt});
      entry = &ssrcs_.back();
    }
    if (tail.rfind("cname:", 0) == 0) entry->name = tail.substr(6);
  } else {
    Entry::parseAttribute(key, value, line);
  }
}

string Description::Media::formatLine() const { return Entry::formatLine(); }

void Description::Media::generateAttributes(std::vector<string>& lines) const {
  Entry::generateAttributes(lines);
  lines.push_back("a=rtcp-mux");
  lines.push_back("a=rtcp-rsize");
  for (const auto& [pt, map] : rtpMaps_) {
    string rtpmap = "a=rtpmap:" + std::to_string(pt) + " " + map.format + "/" + std::to_string(map.clockRate);
    if (!map.encParams.empty()) rtpmap += "/" + map.encParams;
    lines.push_back(rtpmap);
    for (const auto& fb : map.rtcpFbs) lines.push_back("a=rtcp-fb:" + std::to_string(pt) + " " + fb);
    for (const auto& fmtp : map.fmtps) lines.push_back("a=fmtp:" + std::to_string(pt) + " " + fmtp);
  }
  for (const auto& s : ssrcs_) {
    if (s.msid) lines.push_back("a=msid:" + *s.msid + (s.trackId ? " " + *s.trackId : ""));
  }
  for (const auto& s : ssrcs_) {
    string id = "a=ssrc:" + std::to_string(s.ssrc);
    if (s.name) lines.push_back(id + " cname:" + *s.name);
    if (s.msid) lines.push_back(id + " msid:" + *s.msid + (s.trackId ? " " + *s.trackId : ""));
    if (!s.name && !s.msid) lines.push_back(id);
  }
}

Description::Video::Video(string mid, Direction dir) : Media("video", std::move(mid), dir) {}

void Description::Video::addVideoCodec(int payloadType, string codec, optional<string> profile) {
  RtpMap map;
  map.payloadType = payloadType;
  map.format = std::move(codec);
  map.clockRate = 90000;
  map.rtcpFbs = {"nack", "nack pli", "goog-remb"};
  if (profile) map.fmtps.push_back(*profile);
  addRtpMap(std::move(map));
}

void Description::Video::addH264Codec(int payloadType, optional<string> profile) {
  addVideoCodec(payloadType, "H264", std::move(profile));
}

Description::Audio::Audio(string mid, Direction dir) : Media("audio", std::move(mid), dir) {}

// ---- Description ----

namespace {

// ICE and DTLS attributes as one section (or the session level) states them.
struct TransportAttributes {
  optional<string> ufrag;
  optional<string> pwd;
  optional<Description::Fingerprint> fingerprint;
  optional<Description::Role> role;
};

} // namespace

Description::Description(const string& sdp, Type type, Role role)
    : type_(type), role_(role), sessionId_(randomSessionId()) {
  shared_ptr<Entry> current;
  bool first = true;
  // [0] is the session level, [i + 1] the i-th section.
  std::vector<TransportAttributes> transports(1);
  std::vector<std::pair<size_t, string>> candidates; // with the scope they came in
  for (const auto& line : impl::splitLines(sdp)) {
    if (line.size() < 2 || line[1] != '=' || !std::isalpha(static_cast<unsigned char>(line[0]))) {
      throw std::invalid_argument("malformed SDP line: '" + line.substr(0, 80) + "'");
    }
    if (first && line[0] != 'v') throw std::invalid_argument("SDP does not begin with a version line");
    first = false;
    char kind = line[0];
    string body = line.substr(2);
    if (kind == 'o') {
      auto words = splitWords(body);
      if (words.size() >= 2) sessionId_ = words[1];
      if (words.size() >= 3) sessionVersion_ = impl::parseUnsigned(words[2]).value_or(0);
      continue;
    }
    if (kind == 'm') {
      auto words = splitWords(body);
      if (words.size() < 3) throw std::invalid_argument("malformed SDP media line: '" + line + "'");
      const string& mediaType = words[0];
      if (mediaType == "application") {
        current = std::make_shared<Application>("");
      } else if (mediaType == "video") {
        current = std::make_shared<Video>("", Direction::SendRecv);
      } else if (mediaType == "audio") {
        current = std::make_shared<Audio>("", Direction::SendRecv);
      } else {
        current = std::make_shared<Entry>(mediaType, "", Direction::Unknown);
      }
      current->protocol_ = words[2];
      current->formats_.assign(words.begin() + 3, words.end());
      auto port = impl::parseUnsigned(words[1].substr(0, words[1].find('/')));
      if (!port || *port > 65535) throw std::invalid_argument("bad port in SDP media line: '" + line + "'");
      current->removed_ = *port == 0;
      if (auto media = std::dynamic_pointer_cast<Media>(current)) {
        // Formats come back from the rtpmaps; keep the offered order.
        media->formats_.clear();
        for (const auto& f :
             words.size() > 3 ? std::vector<string>(words.begin() + 3, words.end()) : std::vector<string>{}) {
          if (auto pt = impl::parseUnsigned(f); pt && *pt <= 127) {
            media->rtpMaps_[static_cast<int>(*pt)].payloadType = static_cast<int>(*pt);
            media->formats_.push_back(f);
          }
        }
      } else if (auto app = std::dynamic_pointer_cast<Application>(current); app && app->legacyForm()) {
        // The older form names the SCTP port as the format; a=sctpmap may repeat it.
        if (auto sctp = impl::parseUnsigned(words.size() > 3 ? words[3] : ""); sctp && *sctp <= 65535) {
          app->setSctpPort(static_cast<uint16_t>(*sctp));
        }
      }
      entries_.push_back(current);
      transports.emplace_back();
      continue;
    }
    if (kind != 'a') continue;
    size_t colon = body.find(':');
    string key = body.substr(0, colon);
    string value = colon == string::npos ? "" : body.substr(colon + 1);
    TransportAttributes& transport = transports.back();
    if (key == "ice-ufrag") {
      transport.ufrag = value;
    } else if (key == "ice-pwd") {
      transport.pwd = value;
    } else if (key == "fingerprint") {
      auto words = splitWords(value);
      if (words.size() != 2) throw std::invalid_argument("malformed SDP fingerprint: '" + line + "'");
      transport.fingerprint = Fingerprint{impl::toLower(words[0]), impl::toUpper(words[1])};
    } else if (key == "setup") {
      if (value == "actpass") {
        transport.role = Role::ActPass;
      } else if (value == "active") {
        transport.role = Role::Active;
      } else if (value == "passive") {
        transport.role = Role::Passive;
      } else {
        throw std::invalid_argument("unknown DTLS setup in SDP: '" + line + "'");
      }
    } else if (key == "group" && !current && bundleGroup_.empty()) {
      if (auto words = splitWords(value); !words.empty() && words[0] == "BUNDLE") {
        bundleGroup_.assign(words.begin() + 1, words.end());
      }
    } else if (key == "candidate") {
      candidates.emplace_back(transports.size() - 1, body);
    } else if (key == "end-of-candidates") {
      endOfCandidates_ = true;
    } else if (key == "ice-options") {
      // Written with the transport's own lines; kept as a media attribute it
      // would come out twice.
    } else if (current) {
      current->parseAttribute(key, value, body);
    }
  }
  if (!sdp.empty() && first) throw std::invalid_argument("SDP has no lines");

  // We run one transport for all sections: that of the BUNDLE-tagged section
  // (RFC 8843), or without BUNDLE that of the first section. Another
  // section's credentials and candidates belong to a transport of the peer's
  // that we never use. A section's own attributes override the session's.
  const string transportMid = bundleMid();
  size_t scope = 0;
  for (size_t i = 0; i < entries_.size() && scope == 0; ++i) {
    if (entries_[i]->mid() == transportMid) scope = i + 1;
  }
  const TransportAttributes& chosen = transports[scope];
  const TransportAttributes& session = transports[0];
  iceUfrag_ = chosen.ufrag ? chosen.ufrag : session.ufrag;
  icePwd_ = chosen.pwd ? chosen.pwd : session.pwd;
  fingerprint_ = chosen.fingerprint ? chosen.fingerprint : session.fingerprint;
  if (auto setup = chosen.role ? chosen.role : session.role) {
    role_ = *setup;
    hasSetup_ = true;
  }
  for (auto& [from, candidate] : candidates) {
    if (from == 0 || from == scope) candidates_.emplace_back(std::move(candidate), transportMid);
  }
}

Description::Description(const string& sdp, string typeString) : Description(sdp, stringToType(typeString)) {}

string Description::typeToString(Type type) {
  switch (type) {
  case Type::Offer:
    return "offer";
  case Type::Answer:
    return "answer";
  case Type::Pranswer:
    return "pranswer";
  case Type::Rollback:
    return "rollback";
  default:
    return "unspec";
  }
}

Description::Type Description::stringToType(const string& typeString) {
  if (typeString == "offer") return Type::Offer;
  if (typeString == "answer") return Type::Answer;
  if (typeString == "pranswer") return Type::Pranswer;
  if (typeString == "rollback") return Type::Rollback;
  return Type::Unspec;
}

string Description::typeString() const { return typeToString(type_); }

Description::operator string() const { return generateSdp("\r\n"); }

void Description::setIceCredentials(string ufrag, string pwd) {
  iceUfrag_ = std::move(ufrag);
  icePwd_ = std::move(pwd);
}

void Description::setFingerprint(Fingerprint fingerprint) { fingerprint_ = std::move(fingerprint); }

void Description::addCandidate(Candidate candidate) { candidates_.push_back(std::move(candidate)); }

shared_ptr<Description::Application> Description::application() const {
  for (const auto& e : entries_) {
    if (auto app = std::dynamic_pointer_cast<Application>(e); app && !app->isRemoved()) return app;
  }
  return nullptr;
}

string Description::bundleMid() const {
  if (!bundleGroup_.empty()) {
    for (const auto& e : entries_) {
      if (e->mid() == bundleGroup_.front() && !e->isRemoved()) return e->mid();
    }
  }
  for (const auto& e : entries_) {
    if (!e->isRemoved()) return e->mid();
  }
  return entries_.empty() ? "0" : entries_.front()->mid();
}

string Description::generateSdp(const string& eol) const {
  string out = "v=0" + eol;
  out += "o=- " + sessionId_ + " " + std::to_string(sessionVersion_) + " IN IP4 127.0.0.1" + eol;
  out += "s=-" + eol;
  out += "t=0 0" + eol;
  string bundle;
  for (const auto& e : entries_) {
    if (!e->isRemoved()) bundle += " " + e->mid();
  }
  if (!bundle.empty()) out += "a=group:BUNDLE" + bundle + eol;
  out += "a=msid-semantic:WMS *" + eol;

  string transport;
  if (iceUfrag_) transport += "a=ice-ufrag:" + *iceUfrag_ + eol;
  if (icePwd_) transport += "a=ice-pwd:" + *icePwd_ + eol;
  transport += "a=ice-options:trickle" + eol;
  if (fingerprint_) transport += "a=fingerprint:" + fingerprint_->algorithm + " " + fingerprint_->value + eol;
  switch (role_) {
  case Role::Active:
    transport += "a=setup:active" + eol;
    break;
  case Role::Passive:
    transport += "a=setup:passive" + eol;
    break;
  default:
    transport += "a=setup:actpass" + eol;
    break;
  }

  bool candidatesWritten = false;
  for (const auto& e : entries_) {
    out += e->generateSdp(eol, transport);
    // All sections share one transport, so its candidates go in the first
    // section that is not rejected.
    if (!candidatesWritten && !e->isRemoved()) {
      for (const auto& c : candidates_) out += string(c) + eol;
      if (endOfCandidates_) out += "a=end-of-candidates" + eol;
      candidatesWritten = true;
    }
  }
  return out;
}

} // namespace rtc
