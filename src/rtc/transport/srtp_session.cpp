#include "transport/srtp_session.hpp"

#include "rtcp_packet.hpp"
#include "rtp_header.hpp"

#include <srtp2/srtp.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace rtc::impl {

namespace {

struct ProfileSizes {
  srtp_profile_t id;
  size_t keySize;
  size_t saltSize;
  size_t tagSize; // of SRTP; SRTCP adds its 4-octet index
};

ProfileSizes sizesOf(SrtpProfile profile) {
  switch (profile) {
  case SrtpProfile::AeadAes128Gcm:
    return {srtp_profile_aead_aes_128_gcm, 16, 12, 16};
  case SrtpProfile::AesCm128HmacSha1_80:
    break;
  }
  return {srtp_profile_aes128_cm_sha1_80, 16, 14, 10};
}

void initialiseLibrary() {
  static const srtp_err_status_t status = srtp_init();
  if (status != srtp_err_status_ok)
    throw std::runtime_error("srtp_init failed (" + std::to_string(static_cast<int>(status)) + ")");
}

constexpr size_t RtcpIndexSize = 4;
static_assert(SrtpSession::MaxOverhead >= SRTP_MAX_TRAILER_LEN + RtcpIndexSize);
// Shortest SRTCP: header and sender SSRC, the index, the tag.
constexpr size_t RtcpMinimum = 8;

} // namespace

std::optional<SrtpProfile> srtpProfileFromName(std::string_view name) {
  if (name == "SRTP_AES128_CM_SHA1_80") return SrtpProfile::AesCm128HmacSha1_80;
  if (name == "SRTP_AEAD_AES_128_GCM") return SrtpProfile::AeadAes128Gcm;
  return std::nullopt;
}

size_t SrtpSession::keyingMaterialSize(SrtpProfile profile) {
  const auto sizes = sizesOf(profile);
  return 2 * (sizes.keySize + sizes.saltSize);
}

void SrtpSession::ContextDeleter::operator()(srtp_ctx_t_* context) const { srtp_dealloc(context); }

SrtpSession::SrtpSession(SrtpProfile profile, std::span<const byte> keyingMaterial, bool dtlsClient)
    : profile_(profile) {
  const auto sizes = sizesOf(profile);
  if (keyingMaterial.size() != keyingMaterialSize(profile))
    throw std::invalid_argument("SRTP keying material has " + std::to_string(keyingMaterial.size()) +
                                " octets instead of " + std::to_string(keyingMaterialSize(profile)));
  initialiseLibrary();

  const auto* material = reinterpret_cast<const unsigned char*>(keyingMaterial.data());
  const unsigned char* clientKey = material;
  const unsigned char* serverKey = clientKey + sizes.keySize;
  const unsigned char* clientSalt = serverKey + sizes.keySize;
  const unsigned char* serverSalt = clientSalt + sizes.saltSize;

  auto makeContext = [&](const unsigned char* key, const unsigned char* salt, bool sending) {
    // The SRTP library wants key and salt back to back.
    std::vector<unsigned char> master(key, key + sizes.keySize);
    master.insert(master.end(), salt, salt + sizes.saltSize);

    srtp_policy_t policy{};
    if (srtp_crypto_policy_set_from_profile_for_rtp(&policy.rtp, sizes.id) != srtp_err_status_ok ||
        srtp_crypto_policy_set_from_profile_for_rtcp(&policy.rtcp, sizes.id) != srtp_err_status_ok)
      throw std::runtime_error("SRTP profile not supported by the SRTP library");
    policy.ssrc.type = sending ? ssrc_any_outbound : ssrc_any_inbound;
    policy.key = master.data();
    policy.window_size = 1024;
    // Retransmissions answering NACKs repeat a sequence number with the
    // same payload, which is safe and must not count as a replay.
    policy.allow_repeat_tx = sending ? 1 : 0;

    srtp_t context = nullptr;
    const auto status = srtp_create(&context, &policy);
    std::fill(master.begin(), master.end(), 0);
    if (status != srtp_err_status_ok)
      throw std::runtime_error("srtp_create failed (" + std::to_string(static_cast<int>(status)) + ")");
    return Context(context);
  };

  outbound_ = dtlsClient ? makeContext(clientKey, clientSalt, true) : makeContext(serverKey, serverSalt, true);
  inbound_ = dtlsClient ? makeContext(serverKey, serverSalt, false) : makeContext(clientKey, clientSalt, false);
}

SrtpSession::~SrtpSession() = default;

bool SrtpSession::protectRtp(binary& packet) {
  if (!parseRtpHeader(packet)) return false;
  const size_t size = packet.size();
  if (size > static_cast<size_t>(INT32_MAX) - SRTP_MAX_TRAILER_LEN) return false;
  packet.resize(size + SRTP_MAX_TRAILER_LEN);
  int length = static_cast<int>(size);
  std::lock_guard lock(outboundMutex_);
  if (srtp_protect(outbound_.get(), packet.data(), &length) != srtp_err_status_ok) {
    packet.resize(size);
    return false;
  }
  packet.resize(static_cast<size_t>(length));
  return true;
}

bool SrtpSession::protectRtcp(binary& packet) {
  RtcpWalker walker(packet);
  if (packet.size() < RtcpMinimum || !walker.next()) return false;
  const size_t size = packet.size();
  if (size > static_cast<size_t>(INT32_MAX) - SRTP_MAX_TRAILER_LEN - RtcpIndexSize) return false;
  packet.resize(size + SRTP_MAX_TRAILER_LEN + RtcpIndexSize);
  int length = static_cast<int>(size);
  std::lock_guard lock(outboundMutex_);
  if (srtp_protect_rtcp(outbound_.get(), packet.data(), &length) != srtp_err_status_ok) {
    packet.resize(size);
    return false;
  }
  packet.resize(static_cast<size_t>(length));
  return true;
}

bool SrtpSession::unprotectRtp(binary& packet) {
  // The header is clear text: check that its CSRCs and extension lie
  // within the packet before the SRTP library looks at them.
  const auto header = parseRtpHeader(packet);
  if (!header || packet.size() < header->headerSize + sizesOf(profile_).tagSize) return false;
  if (packet.size() > static_cast<size_t>(INT32_MAX)) return false;
  int length = static_cast<int>(packet.size());
  std::lock_guard lock(inboundMutex_);
  if (srtp_unprotect(inbound_.get(), packet.data(), &length) != srtp_err_status_ok) return false;
  packet.resize(static_cast<size_t>(length));
  return true;
}

bool SrtpSession::unprotectRtcp(binary& packet) {
  if (packet.size() < RtcpMinimum + RtcpIndexSize + sizesOf(profile_).tagSize) return false;
  if ((std::to_integer<unsigned>(packet[0]) & 0xC0) != 0x80) return false;
  if (packet.size() > static_cast<size_t>(INT32_MAX)) return false;
  int length = static_cast<int>(packet.size());
  std::lock_guard lock(inboundMutex_);
  if (srtp_unprotect_rtcp(inbound_.get(), packet.data(), &length) != srtp_err_status_ok) return false;
  packet.resize(static_cast<size_t>(length));
  return true;
}

} // namespace rtc::impl
