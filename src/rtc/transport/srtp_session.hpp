#pragma once
// SRTP and SRTCP (RFC 3711, RFC 7714) for one media transport, keyed from the
// DTLS-SRTP exporter (RFC 5764).
#include "rtc/common.hpp"

#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>

struct srtp_ctx_t_;

namespace rtc::impl {

enum class SrtpProfile { AesCm128HmacSha1_80, AeadAes128Gcm };

// The profile for a DTLS-SRTP protection profile name as the TLS library
// reports it ("SRTP_AES128_CM_SHA1_80", "SRTP_AEAD_AES_128_GCM").
std::optional<SrtpProfile> srtpProfileFromName(std::string_view name);

class SrtpSession {
public:
  // Room a packet may need beyond its size while it is protected.
  static constexpr size_t MaxOverhead = 148;

  // Exporter output length ("EXTRACTOR-dtls_srtp") for a profile: two
  // master keys and two master salts.
  static size_t keyingMaterialSize(SrtpProfile profile);

  // `keyingMaterial` is laid out client key, server key, client salt,
  // server salt; the DTLS client sends with the client's. Throws
  // std::invalid_argument on a wrong length, std::runtime_error when the
  // SRTP library refuses the keys.
  SrtpSession(SrtpProfile profile, std::span<const byte> keyingMaterial, bool dtlsClient);
  ~SrtpSession();
  SrtpSession(const SrtpSession&) = delete;
  SrtpSession& operator=(const SrtpSession&) = delete;

  // In place: the packet grows by the authentication tag (and the SRTCP
  // index) or shrinks back. False when it is malformed, fails
  // authentication or is a replay; its contents are then unspecified and
  // it is to be dropped.
  bool protectRtp(binary& packet);
  bool protectRtcp(binary& packet);
  bool unprotectRtp(binary& packet);
  bool unprotectRtcp(binary& packet);

  SrtpProfile profile() const { return profile_; }

private:
  struct ContextDeleter {
    void operator()(srtp_ctx_t_* context) const;
  };
  using Context = std::unique_ptr<srtp_ctx_t_, ContextDeleter>;

  const SrtpProfile profile_;
  // The SRTP library's contexts are not thread-safe; sending (media thread,
  // pacer, retransmissions) and receiving each take their own lock.
  std::mutex outboundMutex_;
  std::mutex inboundMutex_;
  Context outbound_;
  Context inbound_;
};

} // namespace rtc::impl
