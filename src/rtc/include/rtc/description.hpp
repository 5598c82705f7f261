#pragma once
#include "rtc/candidate.hpp"
#include "rtc/common.hpp"

#include <map>
#include <vector>

namespace rtc {

inline constexpr const char* DEFAULT_H264_VIDEO_PROFILE =
    "profile-level-id=42e01f;packetization-mode=1;level-asymmetry-allowed=1";

// A session description: parsed from SDP text or built for our side, and
// written back as SDP text.
class Description {
public:
  enum class Type { Unspec, Offer, Answer, Pranswer, Rollback };
  enum class Role { ActPass, Passive, Active };
  enum class Direction { SendOnly, RecvOnly, SendRecv, Inactive, Unknown };

  // One m= section.
  class Entry {
  public:
    // An RTP header extension mapping (RFC 8285): "a=extmap:<id>[/<direction>] <uri> [<attributes>]".
    struct ExtMap {
      int id = 0;
      string uri;
      string attributes;
      Direction direction = Direction::Unknown;
    };

    Entry(string type, string mid, Direction dir = Direction::Unknown);
    virtual ~Entry() = default;

    string type() const { return type_; }
    string protocol() const { return protocol_; }
    string mid() const { return mid_; }
    Direction direction() const { return direction_; }
    void setDirection(Direction dir) { direction_ = dir; }
    // A section with port 0 was rejected (or is being rejected).
    bool isRemoved() const { return removed_; }
    void markRemoved() { removed_ = true; }
    const std::vector<string>& formats() const { return formats_; }
    void setProtocol(string protocol) { protocol_ = std::move(protocol); }
    void setFormats(std::vector<string> formats) { formats_ = std::move(formats); }
    // Attribute lines (without "a=") that the structured fields do not cover.
    const std::vector<string>& attributes() const { return attributes_; }
    void addAttribute(string attribute) { attributes_.push_back(std::move(attribute)); }
    // Header extension mappings by id; adding one under a used id replaces it.
    void addExtMap(ExtMap map) { extMaps_[map.id] = std::move(map); }
    void removeExtMap(int id) { extMaps_.erase(id); }
    const std::map<int, ExtMap>& extMaps() const { return extMaps_; }

    // The section's lines from "m=" on, each ending in `eol`. Transport
    // attributes (ICE credentials, fingerprint, setup) are added by the
    // description, which knows them.
    virtual string generateSdp(const string& eol, const string& transportLines) const;

  protected:
    friend class Description;
    virtual void parseAttribute(const string& key, const string& value, const string& line);
    virtual string formatLine() const;
    virtual void generateAttributes(std::vector<string>& lines) const;

    string type_;
    string protocol_;
    string mid_;
    Direction direction_;
    bool removed_ = false;
    std::vector<string> formats_;
    std::vector<string> attributes_;
    std::map<int, ExtMap> extMaps_;
  };

  // The data channel section (SCTP over DTLS), written in the form its
  // protocol names: "UDP/DTLS/SCTP webrtc-datachannel" with a=sctp-port
  // (RFC 8841), or the older "DTLS/SCTP <port>" with a=sctpmap that some
  // peers still offer. An answer takes the offer's protocol and so its form.
  class Application : public Entry {
  public:
    Application(string mid = "data");
    bool legacyForm() const { return protocol_ == "DTLS/SCTP"; }
    optional<uint16_t> sctpPort() const { return sctpPort_; }
    void setSctpPort(uint16_t port) { sctpPort_ = port; }
    optional<size_t> maxMessageSize() const { return maxMessageSize_; }
    void setMaxMessageSize(size_t size) { maxMessageSize_ = size; }

  protected:
    void parseAttribute(const string& key, const string& value, const string& line) override;
    string formatLine() const override;
    void generateAttributes(std::vector<string>& lines) const override;

  private:
    optional<uint16_t> sctpPort_;
    optional<size_t> maxMessageSize_;
  };

  // An RTP section (audio or video).
  class Media : public Entry {
  public:
    struct RtpMap {
      int payloadType = 0;
      string format;
      int clockRate = 0;
      string encParams;
      std::vector<string> fmtps;
      std::vector<string> rtcpFbs;
    };

    Media(string type, string mid, Direction dir = Direction::SendOnly);

    void addSSRC(uint32_t ssrc, optional<string> name, optional<string> msid = nullopt,
                 optional<string> trackId = nullopt);
    std::vector<uint32_t> getSSRCs() const;
    optional<string> getCNameForSsrc(uint32_t ssrc) const;

    void addRtpMap(RtpMap map);
    bool hasPayloadType(int payloadType) const;
    const std::map<int, RtpMap>& rtpMaps() const { return rtpMaps_; }

  protected:
    friend class Description;
    void parseAttribute(const string& key, const string& value, const string& line) override;
    string formatLine() const override;
    void generateAttributes(std::vector<string>& lines) const override;

  private:
    struct Ssrc {
      uint32_t ssrc;
      optional<string> name;
      optional<string> msid;
      optional<string> trackId;
    };
    std::map<int, RtpMap> rtpMaps_;
    std::vector<Ssrc> ssrcs_;
  };

  class Video : public Media {
  public:
    Video(string mid = "video", Direction dir = Direction::SendOnly);
    void addVideoCodec(int payloadType, string codec, optional<string> profile = nullopt);
    void addH264Codec(int payloadType, optional<string> profile = DEFAULT_H264_VIDEO_PROFILE);
  };

  class Audio : public Media {
  public:
    Audio(string mid = "audio", Direction dir = Direction::SendOnly);
  };

  struct Fingerprint {
    string algorithm; // lower case, e.g. "sha-256"
    string value;     // upper-case hex pairs joined by ':'
  };

  // Throws std::invalid_argument when `sdp` is not SDP text.
  Description(const string& sdp, Type type = Type::Unspec, Role role = Role::ActPass);
  Description(const string& sdp, string typeString);

  Type type() const { return type_; }
  string typeString() const;
  Role role() const { return role_; }
  void setRole(Role role) { role_ = role; }
  operator string() const;
  string generateSdp(const string& eol = "\r\n") const;

  optional<string> iceUfrag() const { return iceUfrag_; }
  optional<string> icePwd() const { return icePwd_; }
  optional<Fingerprint> fingerprint() const { return fingerprint_; }
  bool hasSetup() const { return hasSetup_; }
  // The o= line's session id and version: a connection's later descriptions
  // keep the id of its first and raise the version (RFC 3264 section 8).
  string sessionId() const { return sessionId_; }
  uint64_t sessionVersion() const { return sessionVersion_; }
  void setOrigin(string id, uint64_t version) {
    sessionId_ = std::move(id);
    sessionVersion_ = version;
  }
  void setIceCredentials(string ufrag, string pwd);
  void setFingerprint(Fingerprint fingerprint);

  std::vector<Candidate> candidates() const { return candidates_; }
  void addCandidate(Candidate candidate);
  bool endOfCandidates() const { return endOfCandidates_; }
  void setEndOfCandidates() { endOfCandidates_ = true; }

  int mediaCount() const { return static_cast<int>(entries_.size()); }
  shared_ptr<Entry> entry(int index) const { return entries_.at(index); }
  void addEntry(shared_ptr<Entry> entry) { entries_.push_back(std::move(entry)); }
  shared_ptr<Application> application() const;
  // The mid of the section whose transport all sections share: the first
  // mid of the BUNDLE group, else the first section that is not rejected.
  string bundleMid() const;

  static string typeToString(Type type);
  static Type stringToType(const string& typeString);

private:
  Type type_;
  Role role_;
  bool hasSetup_ = false;
  string sessionId_;
  uint64_t sessionVersion_ = 0;
  optional<string> iceUfrag_;
  optional<string> icePwd_;
  optional<Fingerprint> fingerprint_;
  std::vector<Candidate> candidates_;
  bool endOfCandidates_ = false;
  std::vector<shared_ptr<Entry>> entries_;
  std::vector<string> bundleGroup_; // mids of the parsed a=group:BUNDLE line
};

} // namespace rtc
