// Our side of the browser tests: one peer connection that answers the
// page's offer, driven by JSON lines on standard input and reporting on
// standard output. Every message it receives is echoed back on its channel.
//
// Options: --ice URL [--user NAME --pass WORD]   (repeatable)
// Commands: {"cmd":"offer","sdp":...} {"cmd":"candidate","candidate":...,"mid":...}
//           {"cmd":"send","label":...,"kind":"binary"|"text","sizes":[...]}
//           {"cmd":"echo","on":bool}
// Events:   answer, candidate, state, open, closed, received (size of each
//           message), error, log
#include <rtc/rtc.hpp>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <iostream>
#include <map>
#include <mutex>
#include <string>

using nlohmann::json;

namespace {

std::mutex outMutex;

void emit(const json& event) {
  std::lock_guard lock(outMutex);
  std::cout << event.dump() << std::endl;
}

// The content both sides expect for a generated message of `size` bytes.
rtc::binary patternBytes(size_t size) {
  rtc::binary data(size);
  for (size_t i = 0; i < size; ++i) data[i] = std::byte((i * 7 + size) & 0xff);
  return data;
}

std::string patternText(size_t size) {
  std::string text(size, 'a');
  for (size_t i = 0; i < size; ++i) text[i] = char('a' + (i + size) % 26);
  return text;
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
  std::mutex channelsMutex;
  std::map<std::string, std::shared_ptr<rtc::DataChannel>> channels;
  std::atomic<bool> echo{true};

  pc->onStateChange([](rtc::PeerConnection::State s) { emit({{"evt", "state"}, {"state", stateName(s)}}); });
  pc->onLocalDescription([](rtc::Description d) { emit({{"evt", d.typeString()}, {"sdp", std::string(d)}}); });
  pc->onLocalCandidate([](rtc::Candidate c) {
    emit({{"evt", "candidate"}, {"candidate", c.candidate()}, {"mid", c.mid()}});
  });
  pc->onDataChannel([&](std::shared_ptr<rtc::DataChannel> dc) {
    std::string label = dc->label();
    {
      std::lock_guard lock(channelsMutex);
      channels[label] = dc;
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
      } else if (cmd == "candidate") {
        std::string candidate = command.value("candidate", "");
        if (!candidate.empty()) pc->addRemoteCandidate(rtc::Candidate(candidate, command.value("mid", "")));
      } else if (cmd == "echo") {
        echo = command.value("on", true);
      } else if (cmd == "send") {
        std::shared_ptr<rtc::DataChannel> dc;
        {
          std::lock_guard lock(channelsMutex);
          dc = channels[command.value("label", "")];
        }
        bool text = command.value("kind", "binary") == "text";
        if (!dc) emit({{"evt", "error"}, {"message", "no such channel"}});
        // A send that fails throws (reported below); false only means queued.
        for (const auto& size : dc ? command["sizes"] : json::array()) {
          if (text) {
            dc->send(patternText(size.get<size_t>()));
          } else {
            dc->send(patternBytes(size.get<size_t>()));
          }
        }
      }
    } catch (const std::exception& e) {
      emit({{"evt", "error"}, {"message", e.what()}});
    }
  }
  pc->close();
  return 0;
}
