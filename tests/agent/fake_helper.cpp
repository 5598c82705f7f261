// Stands in for remote-helper: records its commands in FAKE_HELPER_RECORD
// and answers an offer as it does; with FAKE_HELPER_IGNORE_STOP set it
// hangs, outliving "stop" and the end of its input. At start it writes to
// FAKE_HELPER_RECORD.inherited how many sockets it inherited and, on Windows,
// whether the handle value in FAKE_HELPER_PROBE_HANDLE is open in it.
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#ifdef _WIN32
#include <winsock2.h>

#include <windows.h>
#else
#include <sys/socket.h>
#endif

namespace {

// Every descriptor or handle value that answers as a socket.
int inheritedSockets() {
  int count = 0;
#ifdef _WIN32
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  for (uintptr_t value = 4; value < 65536; value += 4) {
    int type = 0;
    int size = sizeof type;
    if (getsockopt(static_cast<SOCKET>(value), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &size) == 0)
      ++count;
  }
#else
  for (int fd = 0; fd < 1024; ++fd) {
    int type = 0;
    socklen_t size = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) == 0) ++count;
  }
#endif
  return count;
}

void emit(const nlohmann::json& event) { std::cout << event.dump() << '\n' << std::flush; }

} // namespace

int main() {
  const std::string record = std::getenv("FAKE_HELPER_RECORD");
  std::string inherited = "sockets " + std::to_string(inheritedSockets());
#ifdef _WIN32
  if (const char* probe = std::getenv("FAKE_HELPER_PROBE_HANDLE")) {
    DWORD flags = 0;
    HANDLE handle = reinterpret_cast<HANDLE>(std::strtoull(probe, nullptr, 10));
    inherited += GetHandleInformation(handle, &flags) ? " handle open" : " handle closed";
  }
#endif
  std::ofstream(record + ".inherited") << inherited << '\n';
  const bool ignoreStop = std::getenv("FAKE_HELPER_IGNORE_STOP") != nullptr;
  std::ofstream out(record, std::ios::app);
  for (std::string line; std::getline(std::cin, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out << line << '\n' << std::flush;
    auto command = nlohmann::json::parse(line, nullptr, false);
    std::string cmd = command.is_object() ? command.value("cmd", "") : "";
    if (cmd == "offer") {
      emit({{"evt", "answer"}, {"sdp", "answer-to:" + command.value("sdp", "")}});
      emit({{"evt", "ice"},
            {"candidate",
             {{"candidate", "candidate:1 1 udp 1 127.0.0.1 9 typ host"}, {"sdpMLineIndex", 0}, {"sdpMid", "0"}}}});
    } else if (cmd == "stop" && !ignoreStop) {
      break;
    }
  }
  if (ignoreStop) std::this_thread::sleep_for(std::chrono::hours(1));
  out << "exit\n";
}
