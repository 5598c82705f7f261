#include "agent/broker_link.h"

#include "agent/ip_literal.h"
#include "agent/text_codec.h"
#include "agent/tls_trust.h"
#include "common/bounded_json.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <random>

namespace dravnok::agent {
namespace {

using namespace std::chrono_literals;

constexpr auto kHandshakeTimeout = 10s;
constexpr auto kPoll = 200ms;
// A broker that answers none of three pings 20 s apart is gone, even when
// no packet said so (a laptop lid, a changed network).
constexpr auto kPingInterval = 20s;
constexpr int kMaxUnansweredPings = 3;
// INFO lists a cluster's addresses; other lines are short.
constexpr size_t kMaxLineBytes = 65536;

std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> result;
  while (!line.empty()) {
    auto start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos) break;
    line.remove_prefix(start);
    auto end = std::min(line.find_first_of(" \t"), line.size());
    result.push_back(line.substr(0, end));
    line.remove_prefix(end);
  }
  return result;
}

bool validSubject(std::string_view subject) {
  return !subject.empty() && subject.size() <= 256 &&
         std::all_of(subject.begin(), subject.end(), [](char c) { return c > ' ' && c < 127; });
}

bool fail(std::string& reason, std::string text) {
  reason = std::move(text);
  return false;
}

std::string sslFailure(const char* what) {
  // The first error is the cause (a refused connection, say); later ones
  // only say where it surfaced.
  unsigned long error = ERR_peek_error();
  char text[256] = "";
  if (error) ERR_error_string_n(error, text, sizeof text);
  return std::string(what) + (error ? std::string(": ") + text : std::string());
}

} // namespace

std::string secondsText(std::chrono::milliseconds delay) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(delay.count()) / 1000);
  return text;
}

std::chrono::milliseconds reconnectDelay(int failures, double jitter) {
  auto base = 500ms * (1LL << std::clamp(failures, 0, 6));
  return std::min<std::chrono::milliseconds>(
      std::chrono::milliseconds(static_cast<int64_t>(base.count() * (0.8 + 0.4 * jitter))), 30s);
}

BrokerLink::BrokerLink(std::vector<Endpoint> brokers, std::shared_ptr<SSL_CTX> tls, Identity identity,
                       std::string subject, OnMessage onMessage, Log log)
    : brokers_(std::move(brokers)), tls_(std::move(tls)), identity_(std::move(identity)), subject_(std::move(subject)),
      onMessage_(std::move(onMessage)), log_(std::move(log)), thread_([this] { run(); }) {}

BrokerLink::~BrokerLink() {
  {
    std::lock_guard lock(waitMutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void BrokerLink::run() {
  std::mt19937 random{std::random_device{}()};
  std::uniform_real_distribution<double> jitter(0, 1);
  int failures = 0;
  bool everConnected = false;
  for (size_t next = 0; !stopping(); ++next) {
    const Endpoint& broker = brokers_[next % brokers_.size()];
    std::string reason;
    bool connected = connect(broker, reason);
    if (connected) {
      log_(std::string(everConnected ? "reconnected" : "connected") + " to the broker " + broker.text);
      everConnected = true;
      failures = 0;
      serve(reason);
    }
    disconnect();
    if (stopping()) break;
    auto delay = reconnectDelay(failures++, jitter(random));
    log_(std::string(connected ? "lost the broker " : "cannot reach the broker ") + broker.text + " (" + reason +
         "); trying again in " + secondsText(delay));
    std::unique_lock lock(waitMutex_);
    wake_.wait_for(lock, delay, [this] { return stopping(); });
  }
}

template <typename Call> int BrokerLink::sslCall(Call call, Clock::time_point deadline) {
  for (;;) {
    ERR_clear_error();
    int result = call();
    if (result > 0) return result;
    int error = SSL_get_error(ssl_.get(), result);
    bool read = error == SSL_ERROR_WANT_READ;
    if ((!read && error != SSL_ERROR_WANT_WRITE) || stopping() || Clock::now() >= deadline) return -1;
    waitSocket(socket_, read, !read, kPoll);
  }
}

bool BrokerLink::connect(const Endpoint& broker, std::string& reason) {
  auto deadline = Clock::now() + kHandshakeTimeout;
  bool literal = !ipLiteralBytes(broker.host).empty();
  std::string address = (broker.host.find(':') != std::string::npos ? "[" + broker.host + "]" : broker.host) + ":" +
                        std::to_string(broker.port);
  std::unique_ptr<BIO, decltype(&BIO_free_all)> bio(BIO_new_connect(address.c_str()), BIO_free_all);
  if (!bio) return fail(reason, "out of memory");
  // Signalling is small messages that must not wait for one another;
  // the mode is set before the non-blocking flag, which it would clear.
  BIO_set_conn_mode(bio.get(), BIO_SOCK_NODELAY);
  BIO_set_nbio(bio.get(), 1);
  while (BIO_do_connect(bio.get()) <= 0) {
    if (!BIO_should_retry(bio.get()) || stopping() || Clock::now() >= deadline)
      return fail(reason, sslFailure("cannot connect"));
    int socket = static_cast<int>(BIO_get_fd(bio.get(), nullptr));
    if (socket >= 0) waitSocket(socket, false, true, kPoll);
  }
  socket_ = static_cast<int>(BIO_get_fd(bio.get(), nullptr));
  // The broker greets in plain text (INFO) before TLS starts.
  std::string greeting;
  while (greeting.find("\r\n") == std::string::npos) {
    char buffer[4096];
    int n = BIO_read(bio.get(), buffer, sizeof buffer);
    if (n > 0) {
      greeting.append(buffer, static_cast<size_t>(n));
    } else if (!BIO_should_retry(bio.get()) || stopping() || Clock::now() >= deadline ||
               greeting.size() > kMaxLineBytes) {
      return fail(reason, "no greeting from the broker");
    } else {
      waitSocket(socket_, true, false, kPoll);
    }
  }
  auto info = greeting.starts_with("INFO ")
                  ? parseBoundedJson(std::string_view(greeting).substr(5, greeting.find("\r\n") - 5), kMaxLineBytes, 8)
                  : std::nullopt;
  if (!info || !info->is_object()) return fail(reason, "the greeting is not the broker's");
  {
    std::lock_guard lock(ioMutex_);
    ssl_.reset(SSL_new(tls_.get()));
    if (!ssl_) return fail(reason, "cannot set up TLS");
    SSL_set_bio(ssl_.get(), bio.get(), bio.get());
  }
  bio.release();
  if (literal) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_.get()), broker.host.c_str());
  } else {
    SSL_set_tlsext_host_name(ssl_.get(), broker.host.c_str());
    SSL_set1_host(ssl_.get(), broker.host.c_str());
  }
  if (sslCall([&] { return SSL_connect(ssl_.get()); }, deadline) <= 0) {
    long verified = SSL_get_verify_result(ssl_.get());
    reason = verified != X509_V_OK ? std::string("certificate refused: ") + X509_verify_cert_error_string(verified)
                                   : sslFailure("TLS handshake failed");
    return false;
  }

  nlohmann::json hello = {{"verbose", false}, {"pedantic", false},   {"tls_required", true}, {"name", "remote-agent"},
                          {"lang", "c++"},    {"version", "1"},      {"protocol", 1},        {"echo", false},
                          {"headers", false}, {"jwt", identity_.jwt}};
  auto nonce = info->find("nonce");
  if (nonce != info->end() && nonce->is_string())
    hello["sig"] = base64UrlEncode(bytesOf(identity_.sign(nonce->get<std::string>())));
  // The PING's answer says that the broker took the credentials.
  std::string opening = "CONNECT " + hello.dump() + "\r\nSUB " + subject_ + " 1\r\nPING\r\n";
  for (size_t sent = 0; sent < opening.size();) {
    int n =
        sslCall([&] { return SSL_write(ssl_.get(), opening.data() + sent, static_cast<int>(opening.size() - sent)); },
                deadline);
    if (n <= 0) return fail(reason, "the broker closed the connection");
    sent += static_cast<size_t>(n);
  }
  std::vector<std::string> messages;
  std::unique_lock lock(ioMutex_);
  auto payload = info->find("max_payload");
  if (payload != info->end() && payload->is_number_unsigned())
    maxPayload_ = std::min<size_t>(payload->get<size_t>(), kMaxPayloadBytes);
  unansweredPings_ = 1;
  while (unansweredPings_ > 0) {
    if (!brokenReason_.empty()) return fail(reason, brokenReason_);
    if (stopping() || Clock::now() >= deadline) return fail(reason, "no answer to the credentials");
    lock.unlock();
    waitSocket(socket_, true, false, kPoll);
    lock.lock();
    // The broker closes the connection after saying why.
    if (!readInput(messages, reason)) return fail(reason, brokenReason_.empty() ? reason : brokenReason_);
  }
  connected_ = true;
  droppedLogged_ = false;
  if (!flush(reason)) return false;
  lock.unlock();
  for (const auto& message : messages) onMessage_(bytesOf(message));
  return true;
}

void BrokerLink::serve(std::string& reason) {
  auto lastPing = Clock::now();
  for (;;) {
    bool wantWrite = false;
    bool buffered = false;
    {
      std::lock_guard lock(ioMutex_);
      if (!brokenReason_.empty()) {
        reason = brokenReason_;
        return;
      }
      wantWrite = !queue_.empty();
      buffered = SSL_pending(ssl_.get()) > 0;
    }
    if (stopping()) {
      auto deadline = Clock::now() + 1s;
      for (;;) {
        {
          std::lock_guard lock(ioMutex_);
          if (!flush(reason) || queue_.empty()) return;
        }
        if (Clock::now() >= deadline) return;
        waitSocket(socket_, false, true, kPoll);
      }
    }
    if (!buffered) waitSocket(socket_, true, wantWrite, kPoll);
    std::vector<std::string> messages;
    {
      std::lock_guard lock(ioMutex_);
      if (!readInput(messages, reason)) return;
      if (Clock::now() - lastPing >= kPingInterval) {
        if (unansweredPings_ >= kMaxUnansweredPings) {
          reason = "the broker stopped answering";
          return;
        }
        ++unansweredPings_;
        queue("PING\r\n");
        lastPing = Clock::now();
      }
      if (!flush(reason)) return;
    }
    for (const auto& message : messages) onMessage_(bytesOf(message));
  }
}

void BrokerLink::disconnect() {
  std::lock_guard lock(ioMutex_);
  connected_ = false;
  ssl_.reset();
  socket_ = -1;
  input_.clear();
  brokenReason_.clear();
  // Part of it went out: the rest would break the next connection's stream.
  if (written_ > 0) {
    queuedBytes_ -= queue_.front().size();
    queue_.pop_front();
    written_ = 0;
  }
}

bool BrokerLink::readInput(std::vector<std::string>& messages, std::string& reason) {
  for (;;) {
    char buffer[16384];
    ERR_clear_error();
    int n = SSL_read(ssl_.get(), buffer, sizeof buffer);
    if (n > 0) {
      input_.append(buffer, static_cast<size_t>(n));
      if (!parseInput(messages, reason)) return false;
      continue;
    }
    int error = SSL_get_error(ssl_.get(), n);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) return true;
    reason = error == SSL_ERROR_ZERO_RETURN || error == SSL_ERROR_SYSCALL ? "the broker closed the connection"
                                                                          : sslFailure("reading failed");
    return false;
  }
}

bool BrokerLink::parseInput(std::vector<std::string>& messages, std::string& reason) {
  for (;;) {
    size_t end = input_.find("\r\n");
    if (end == std::string::npos || end > kMaxLineBytes) {
      if (input_.size() <= kMaxLineBytes) return true;
      return fail(reason, "the broker sent an overlong line");
    }
    std::string_view line(input_.data(), end);
    size_t used = end + 2;
    if (line.starts_with("MSG ")) {
      auto parts = words(line);
      size_t size = 0;
      const std::string_view last = parts.back();
      auto [tail, ec] = std::from_chars(last.data(), last.data() + last.size(), size);
      if (parts.size() < 4 || parts.size() > 5 || ec != std::errc{} || tail != last.data() + last.size() ||
          size > kMaxPayloadBytes)
        return fail(reason, "the broker sent a malformed message");
      if (input_.size() < used + size + 2) return true;
      if (input_.compare(used + size, 2, "\r\n") != 0) return fail(reason, "the broker sent a malformed message");
      messages.push_back(input_.substr(used, size));
      used += size + 2;
    } else if (line == "PING") {
      queue("PONG\r\n");
    } else if (line == "PONG") {
      unansweredPings_ = 0;
    } else if (line.starts_with("-ERR")) {
      std::string error(line.substr(0, 200));
      // Before the handshake ends it is the reason the handshake fails.
      if (connected_)
        log_("the broker says " + error);
      else
        brokenReason_ = error;
    } else if (!line.starts_with("INFO ") && line != "+OK") {
      return fail(reason, "the broker sent an unknown line");
    }
    input_.erase(0, used);
  }
}

bool BrokerLink::flush(std::string& reason) {
  while (!queue_.empty()) {
    const std::string& frame = queue_.front();
    ERR_clear_error();
    int n = SSL_write(ssl_.get(), frame.data() + written_, static_cast<int>(frame.size() - written_));
    if (n <= 0) {
      int error = SSL_get_error(ssl_.get(), n);
      if (error == SSL_ERROR_WANT_WRITE || error == SSL_ERROR_WANT_READ) return true;
      return fail(reason, "the broker closed the connection");
    }
    written_ += static_cast<size_t>(n);
    if (written_ == frame.size()) {
      queuedBytes_ -= frame.size();
      queue_.pop_front();
      written_ = 0;
    }
  }
  return true;
}

void BrokerLink::queue(std::string frame) {
  queuedBytes_ += frame.size();
  queue_.push_back(std::move(frame));
}

void BrokerLink::publish(const std::string& subject, std::span<const uint8_t> payload) {
  if (!validSubject(subject)) return;
  std::string frame = "PUB " + subject + " " + std::to_string(payload.size()) + "\r\n";
  frame.append(payload.begin(), payload.end());
  frame += "\r\n";
  std::lock_guard lock(ioMutex_);
  if (payload.size() > maxPayload_ || queuedBytes_ + frame.size() > kMaxQueuedBytes) {
    if (!std::exchange(droppedLogged_, true))
      log_("dropped a message to the broker: it is away or the message too long");
    return;
  }
  queue(std::move(frame));
  if (connected_ && brokenReason_.empty()) {
    std::string reason;
    if (!flush(reason)) brokenReason_ = reason;
  }
}

} // namespace dravnok::agent
