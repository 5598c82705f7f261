// Chromium's counterpart in the data channel throughput benchmark
// (bench/browser_throughput.js): one peer connection that answers the
// page's offer, driven by JSON lines on standard input as remote-helper is
// and reporting on standard output. Every message it receives is echoed
// back on its channel unless echo is off.
//
// Options: --ice URL [--user NAME --pass WORD]   (repeatable)
// Commands: {"cmd":"offer","sdp":...} {"cmd":"ice","candidate":{"candidate":...,"sdpMid":...}}
//           {"cmd":"echo","on":bool}
// Events:   answer, ice, state, open, closed, received (size of each
//           message), error, log
#include <rtc/rtc.hpp>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

using nlohmann::json;

namespace {

std::mutex outMutex;

void emit(const json& event) {
  std::lock_guard lock(outMutex);
  std::cout << event.dump() << std::endl;
}

const char* stateName(rtc::PeerConnection::State s) {
  static const char* names[] = {"new", "connecting", "connected", "disconnected", "failed", "closed"};
  return names[int(s)];
}

} // namespace

int main(int argc, char** argv) {
  rtc::InitLogger(std::getenv("DRAVNOK_RTC_VERBOSE") ? rtc::LogLevel::Verbose : rtc::LogLevel::Warning,
                  [](rtc::LogLevel, std::string message) {
                    emit({{"evt", "log"}, {"message", message}});
                  });
  rtc::Configuration config;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--ice" && i + 1 < argc) {
      config.iceServers.emplace_back(argv[++i]);
    } else if (arg == "--user" && i + 1 < argc && !config.iceServers.empty()) {
      config.iceServers.back().username = argv[++i];
    } else if (arg == "--pass" && i + 1 < argc && !config.iceServers.empty()) {
      config.iceServers.back().password = argv[++i];
    }
  }

  auto pc = std::make_shared<rtc::PeerConnection>(config);
  std::atomic<bool> echo{true};
  // The connection keeps its channels only while someone holds them.
  std::mutex channelsMutex;
  std::vector<std::shared_ptr<rtc::DataChannel>> channels;

  pc->onStateChange([](rtc::PeerConnection::State s) { emit({{"evt", "state"}, {"state", stateName(s)}}); });
  pc->onLocalDescription([](rtc::Description d) { emit({{"evt", d.typeString()}, {"sdp", std::string(d)}}); });
  pc->onLocalCandidate([](rtc::Candidate c) {
    emit({{"evt", "ice"}, {"candidate", {{"candidate", c.candidate()}, {"sdpMid", c.mid()}}}});
  });
  pc->onDataChannel([&](std::shared_ptr<rtc::DataChannel> dc) {
    std::string label = dc->label();
    {
      std::lock_guard lock(channelsMutex);
      channels.push_back(dc);
    }
    std::weak_ptr<rtc::DataChannel> weak = dc;
    dc->onOpen([label] { emit({{"evt", "open"}, {"label", label}}); });
    dc->onClosed([label] { emit({{"evt", "closed"}, {"label", label}}); });
    dc->onMessage([label, weak, &echo](rtc::message_variant m) {
      bool text = std::holds_alternative<std::string>(m);
      size_t size = text ? std::get<std::string>(m).size() : std::get<rtc::binary>(m).size();
      emit({{"evt", "received"}, {"label", label}, {"kind", text ? "text" : "binary"}, {"size", size}});
      try {
        if (auto channel = weak.lock(); channel && echo) channel->send(std::move(m));
      } catch (const std::exception& e) {
        emit({{"evt", "error"}, {"message", e.what()}});
      }
    });
  });

  std::string line;
  while (std::getline(std::cin, line)) {
    json command = json::parse(line, nullptr, false);
    if (!command.is_object()) continue;
    std::string cmd = command.value("cmd", "");
    try {
      if (cmd == "offer") {
        pc->setRemoteDescription(rtc::Description(command.value("sdp", ""), "offer"));
      } else if (cmd == "ice") {
        json candidate = command.value("candidate", json::object());
        pc->addRemoteCandidate(rtc::Candidate(candidate.value("candidate", ""), candidate.value("sdpMid", "")));
      } else if (cmd == "echo") {
        echo = command.value("on", true);
      }
    } catch (const std::exception& e) {
      emit({{"evt", "error"}, {"message", e.what()}});
    }
  }
  pc->close();
  return 0;
}
