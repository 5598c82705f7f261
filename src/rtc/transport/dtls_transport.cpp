#include "transport/dtls_transport.hpp"

#include "log.hpp"
#include "transport/guarded.hpp"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cstring>
#include <stdexcept>

namespace rtc::impl {
namespace {

constexpr auto kHandshakeTimeout = std::chrono::seconds(30);

std::string openSslError() {
  unsigned long code = ERR_get_error();
  if (!code) return "unknown error";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  ERR_clear_error();
  return text;
}

// A write BIO that hands every record flight straight to ICE as a datagram,
// keeping datagram boundaries that a memory BIO would lose.
int bioWrite(BIO* bio, const char* data, int size) {
  auto* self = static_cast<DtlsTransport*>(BIO_get_data(bio));
  return self ? guarded(
                    "a DTLS write", [&] { return self->writeRecord(data, size); }, -1)
              : -1;
}

long bioCtrl(BIO* bio, int cmd, long, void*) {
  auto* self = static_cast<DtlsTransport*>(BIO_get_data(bio));
  switch (cmd) {
  case BIO_CTRL_FLUSH:
    return 1;
  case BIO_CTRL_DGRAM_QUERY_MTU:
    return self ? long(self->mtu()) : 1200;
  case BIO_CTRL_WPENDING:
  case BIO_CTRL_PENDING:
    return 0;
  default:
    return 0;
  }
}

int bioCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

int bioDestroy(BIO* bio) {
  BIO_set_data(bio, nullptr);
  return 1;
}

BIO_METHOD* outputMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "dtls-ice-out");
    BIO_meth_set_write(m, bioWrite);
    BIO_meth_set_ctrl(m, bioCtrl);
    BIO_meth_set_create(m, bioCreate);
    BIO_meth_set_destroy(m, bioDestroy);
    return m;
  }();
  return method;
}

// Identity comes from the fingerprint in the SDP, so any certificate chain
// passes here and is checked against that fingerprint after the handshake.
int acceptAnyCertificate(int, X509_STORE_CTX*) { return 1; }

} // namespace

DtlsTransport::DtlsTransport(std::shared_ptr<Certificate> certificate, bool client, std::string algorithm,
                             std::string remoteFingerprint, size_t mtu, Callbacks callbacks)
    : certificate_(std::move(certificate)), client_(client), algorithm_(std::move(algorithm)),
      remoteFingerprint_(std::move(remoteFingerprint)), mtu_(mtu), callbacks_(std::move(callbacks)) {
  ctx_ = SSL_CTX_new(DTLS_method());
  if (!ctx_) throw std::runtime_error("cannot create the DTLS context: " + openSslError());
  SSL_CTX_set_min_proto_version(ctx_, DTLS1_2_VERSION);
  SSL_CTX_set_max_proto_version(ctx_, DTLS1_2_VERSION);
  SSL_CTX_set_options(ctx_, SSL_OP_NO_QUERY_MTU | SSL_OP_NO_TICKET | SSL_OP_NO_RENEGOTIATION);
  SSL_CTX_set_read_ahead(ctx_, 1);
  SSL_CTX_set_cipher_list(ctx_, "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-ECDSA-CHACHA20-POLY1305:"
                                "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES128-GCM-SHA256:"
                                "ECDHE-RSA-CHACHA20-POLY1305:ECDHE-RSA-AES256-GCM-SHA384");
  SSL_CTX_set1_groups_list(ctx_, "X25519:P-256:P-384");
  // Offered always, so that media can be keyed from this handshake.
  SSL_CTX_set_tlsext_use_srtp(ctx_, "SRTP_AEAD_AES_128_GCM:SRTP_AES128_CM_SHA1_80");
  SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, acceptAnyCertificate);
  if (SSL_CTX_use_certificate(ctx_, certificate_->x509()) != 1 ||
      SSL_CTX_use_PrivateKey(ctx_, certificate_->key()) != 1) {
    SSL_CTX_free(ctx_);
    throw std::runtime_error("cannot load the DTLS certificate: " + openSslError());
  }
  ssl_ = SSL_new(ctx_);
  in_ = BIO_new(BIO_s_mem());
  BIO* out = BIO_new(outputMethod());
  if (!ssl_ || !in_ || !out) {
    BIO_free(in_);
    BIO_free(out);
    SSL_free(ssl_);
    SSL_CTX_free(ctx_);
    throw std::runtime_error("cannot create the DTLS session");
  }
  BIO_set_mem_eof_return(in_, -1);
  BIO_set_data(out, this);
  SSL_set_bio(ssl_, in_, out);
  SSL_set_mtu(ssl_, long(mtu_));
  if (client_) {
    SSL_set_connect_state(ssl_);
  } else {
    SSL_set_accept_state(ssl_);
  }
  deadline_ = std::chrono::steady_clock::now() + kHandshakeTimeout;
}

DtlsTransport::~DtlsTransport() {
  std::lock_guard lock(mutex_);
  if (ssl_) {
    BIO_set_data(SSL_get_wbio(ssl_), nullptr);
    SSL_free(ssl_); // frees both BIOs
  }
  SSL_CTX_free(ctx_);
}

int DtlsTransport::writeRecord(const char* data, int size) {
  if (size <= 0) return 0;
  // A datagram that cannot leave now is lost like on any network; DTLS
  // retransmits handshake flights and SCTP retransmits its data.
  if (callbacks_.sendPacket) callbacks_.sendPacket(reinterpret_cast<const uint8_t*>(data), size_t(size));
  return size;
}

void DtlsTransport::start() {
  std::vector<Event> events;
  std::string reason;
  std::vector<std::vector<uint8_t>> data;
  {
    std::lock_guard lock(mutex_);
    if (started_ || finished_) return;
    started_ = true;
    deadline_ = std::chrono::steady_clock::now() + kHandshakeTimeout;
    if (client_) advanceLocked(events, reason, data);
  }
  emit(events, reason, data);
}

void DtlsTransport::receive(const uint8_t* bytes, size_t size) {
  std::vector<Event> events;
  std::string reason;
  std::vector<std::vector<uint8_t>> data;
  {
    std::lock_guard lock(mutex_);
    if (finished_ || size == 0) return;
    if (!started_) {
      // The client may be faster than our ICE side; its hello starts us.
      started_ = true;
      deadline_ = std::chrono::steady_clock::now() + kHandshakeTimeout;
    }
    BIO_write(in_, bytes, int(size));
    advanceLocked(events, reason, data);
    // Leftovers of a datagram that OpenSSL rejected must not poison the next.
    (void)BIO_reset(in_);
  }
  emit(events, reason, data);
}

void DtlsTransport::advanceLocked(std::vector<Event>& events, std::string& reason,
                                  std::vector<std::vector<uint8_t>>& data) {
  ERR_clear_error();
  if (!connected_) {
    int rc = SSL_do_handshake(ssl_);
    if (rc == 1) {
      X509* peer = SSL_get1_peer_certificate(ssl_);
      std::string fingerprint = Certificate::fingerprintOf(peer, algorithm_);
      X509_free(peer);
      if (fingerprint.empty() || fingerprint != remoteFingerprint_) {
        // The peer already considers the handshake done; tell it we do not.
        SSL_shutdown(ssl_);
        finished_ = true;
        reason = "DTLS peer certificate does not match the fingerprint in the remote description";
        events.push_back(Event::Failed);
        return;
      }
      connected_ = true;
      events.push_back(Event::Connected);
    } else {
      int error = SSL_get_error(ssl_, rc);
      if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
        finished_ = true;
        reason = "DTLS handshake failed: " + openSslError();
        events.push_back(Event::Failed);
      }
      return;
    }
  }
  for (;;) {
    uint8_t buffer[16384 + 256];
    int rc = SSL_read(ssl_, buffer, sizeof buffer);
    if (rc > 0) {
      data.emplace_back(buffer, buffer + rc);
      // A datagram usually holds one record: when nothing is left, asking
      // again would only fail with "want read", at the price of a record.
      if (BIO_ctrl_pending(in_) == 0 && !SSL_has_pending(ssl_)) return;
      continue;
    }
    int error = SSL_get_error(ssl_, rc);
    if (error == SSL_ERROR_ZERO_RETURN) {
      finished_ = true;
      events.push_back(Event::RemoteClosed);
    } else if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
      finished_ = true;
      reason = "DTLS failed: " + openSslError();
      events.push_back(Event::Failed);
    }
    return;
  }
}

void DtlsTransport::emit(const std::vector<Event>& events, const std::string& reason,
                         const std::vector<std::vector<uint8_t>>& data) {
  // Data decrypted before a close or failure is still delivered first.
  size_t connectedAt = 0;
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i] == Event::Connected) {
      if (callbacks_.onConnected) callbacks_.onConnected();
      connectedAt = i + 1;
    }
  }
  for (const auto& d : data) {
    if (callbacks_.onData) callbacks_.onData(d.data(), d.size());
  }
  for (size_t i = connectedAt; i < events.size(); ++i) {
    if (events[i] == Event::Failed && callbacks_.onFailed) callbacks_.onFailed(reason);
    if (events[i] == Event::RemoteClosed && callbacks_.onRemoteClosed) callbacks_.onRemoteClosed();
  }
}

bool DtlsTransport::send(const uint8_t* data, size_t size) {
  std::lock_guard lock(mutex_);
  if (!connected_ || finished_) return false;
  // Nothing here asks OpenSSL why a write failed, so its error queue is
  // emptied only after a failure, not before every record.
  if (SSL_write(ssl_, data, int(size)) > 0) return true;
  ERR_clear_error();
  return false;
}

void DtlsTransport::tick() {
  std::vector<Event> events;
  std::string reason;
  {
    std::lock_guard lock(mutex_);
    if (!started_ || connected_ || finished_) return;
    if (std::chrono::steady_clock::now() > deadline_) {
      finished_ = true;
      reason = "DTLS handshake timed out";
      events.push_back(Event::Failed);
    } else if (DTLSv1_handle_timeout(ssl_) < 0) {
      finished_ = true;
      reason = "DTLS handshake gave up retransmitting";
      events.push_back(Event::Failed);
    }
  }
  emit(events, reason, {});
}

void DtlsTransport::close() {
  std::lock_guard lock(mutex_);
  if (connected_ && !finished_) {
    ERR_clear_error();
    SSL_shutdown(ssl_);
  }
  finished_ = true;
}

bool DtlsTransport::isConnected() const {
  std::lock_guard lock(mutex_);
  return connected_ && !finished_;
}

std::string DtlsTransport::srtpProfile() const {
  std::lock_guard lock(mutex_);
  if (!connected_) return "";
  SRTP_PROTECTION_PROFILE* profile = SSL_get_selected_srtp_profile(ssl_);
  return profile && profile->name ? profile->name : "";
}

bool DtlsTransport::exportKeyingMaterial(uint8_t* out, size_t size, const std::string& label) const {
  std::lock_guard lock(mutex_);
  if (!connected_) return false;
  return SSL_export_keying_material(ssl_, out, size, label.data(), label.size(), nullptr, 0, 0) == 1;
}

} // namespace rtc::impl
