#pragma once
// DTLS 1.2 over the ICE transport, on OpenSSL. Incoming datagrams are fed in
// by the ICE thread; outgoing records leave through `sendPacket`, one record
// flight per datagram.
#include "transport/certificate.hpp"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;
typedef struct bio_st BIO;

namespace rtc::impl {

class DtlsTransport {
public:
  struct Callbacks {
    std::function<bool(const uint8_t* data, size_t size)> sendPacket;
    std::function<void()> onConnected;
    std::function<void(std::string reason)> onFailed;
    std::function<void()> onRemoteClosed;
    std::function<void(const uint8_t* data, size_t size)> onData;
  };

  // `client` decides who starts the handshake; the peer's certificate must
  // match `remoteFingerprint` under `algorithm`.
  DtlsTransport(std::shared_ptr<Certificate> certificate, bool client, std::string algorithm,
                std::string remoteFingerprint, size_t mtu, Callbacks callbacks);
  ~DtlsTransport();
  DtlsTransport(const DtlsTransport&) = delete;
  DtlsTransport& operator=(const DtlsTransport&) = delete;

  bool isClient() const { return client_; }
  // The client sends its first flight; the server waits for it.
  void start();
  void receive(const uint8_t* data, size_t size);
  bool send(const uint8_t* data, size_t size);
  // Retransmissions and the overall handshake deadline.
  void tick();
  // Sends close_notify once.
  void close();
  bool isConnected() const;

  // For DTLS-SRTP keying: the negotiated profile's name (empty without one)
  // and the exporter output.
  std::string srtpProfile() const;
  bool exportKeyingMaterial(uint8_t* out, size_t size, const std::string& label) const;

  // Used by the output BIO.
  int writeRecord(const char* data, int size);
  size_t mtu() const { return mtu_; }

private:
  enum class Event { Connected, Failed, RemoteClosed };
  void advanceLocked(std::vector<Event>& events, std::string& reason, std::vector<std::vector<uint8_t>>& data);
  void emit(const std::vector<Event>& events, const std::string& reason, const std::vector<std::vector<uint8_t>>& data);

  std::shared_ptr<Certificate> certificate_;
  const bool client_;
  const std::string algorithm_;
  const std::string remoteFingerprint_;
  const size_t mtu_;
  Callbacks callbacks_;

  mutable std::mutex mutex_;
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
  BIO* in_ = nullptr;
  bool started_ = false;
  bool connected_ = false;
  bool finished_ = false; // failed or closed: no more traffic
  std::chrono::steady_clock::time_point deadline_;
};

} // namespace rtc::impl
