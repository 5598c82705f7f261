// File transfer over a real data channel on loopback: our file transfer
// object behind our peer connection in a child process (the helper's side),
// our own peer connection in this process as the viewer.
// Usage: files_bench [download MiB = 1024] [upload MiB = 256]
// Prints download and upload rates, the CPU time each side spent, and the
// helper process's peak resident memory during the download.
#include "files/attach_files_channel.h"

#include <rtc/rtc.hpp>

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

using namespace std::chrono;
using nlohmann::json;

namespace {

// Signalling between the two processes: one JSON text per line on a socket.
class Signalling {
public:
  explicit Signalling(int fd) : fd_(fd) {}
  void send(const json& message) {
    std::string line = message.dump() + "\n";
    std::lock_guard lock(mutex_);
    for (size_t done = 0; done < line.size();) {
      ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
      if (n <= 0) return;
      done += size_t(n);
    }
  }
  // Calls `handle` for every line until the other side closes.
  template <typename F> void readAll(F&& handle) {
    std::string buffer;
    char chunk[4096];
    for (;;) {
      ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n <= 0) return;
      buffer.append(chunk, size_t(n));
      for (size_t end; (end = buffer.find('\n')) != std::string::npos; buffer.erase(0, end + 1)) {
        auto message = json::parse(buffer.substr(0, end), nullptr, false);
        if (!message.is_discarded()) handle(message);
      }
    }
  }

private:
  int fd_;
  std::mutex mutex_;
};

void wire(rtc::PeerConnection& pc, Signalling& signalling) {
  pc.onLocalDescription([&signalling](rtc::Description d) {
    signalling.send({{"sdp", std::string(d)}, {"type", d.typeString()}});
  });
  pc.onLocalCandidate([&signalling](rtc::Candidate c) {
    signalling.send({{"candidate", c.candidate()}, {"mid", c.mid()}});
  });
}

void apply(rtc::PeerConnection& pc, const json& message) {
  try {
    if (message.contains("sdp")) {
      pc.setRemoteDescription(rtc::Description(message.value("sdp", ""), message.value("type", "")));
    } else if (message.contains("candidate")) {
      pc.addRemoteCandidate(rtc::Candidate(message.value("candidate", ""), message.value("mid", "")));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "signalling: %s\n", e.what());
  }
}

// The helper's side: answers, serves the "files" channel, ends when the
// viewer closes the signalling socket.
int runHelper(int fd) {
  Signalling signalling(fd);
  dravnok::files::FileTransferSlot slot;
  // Kept as the session keeps it: the connection holds channels only weakly.
  std::shared_ptr<rtc::DataChannel> filesChannel;
  {
    rtc::PeerConnection pc;
    wire(pc, signalling);
    pc.onDataChannel([&slot, &filesChannel](std::shared_ptr<rtc::DataChannel> channel) {
      if (channel->label() != "files") return;
      filesChannel = channel;
      dravnok::files::attachFilesChannel(slot, channel, [](const std::string& level, const std::string& message) {
        if (level != "info") std::fprintf(stderr, "helper %s: %s\n", level.c_str(), message.c_str());
      });
    });
    signalling.readAll([&pc](const json& message) { apply(pc, message); });
    slot.reset();
    pc.close();
    filesChannel.reset();
  }
  return 0;
}

double cpuSecondsOf(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  auto close = text.rfind(')');
  if (close == std::string::npos) return 0;
  // Fields after the command: state is field 3, utime 14, stime 15.
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i >= 14) ticks += std::atof(field.c_str());
  }
  return ticks / double(sysconf(_SC_CLK_TCK));
}

double ownCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long peakResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// The viewer's view of the channel: text replies by type, binary byte count.
struct Viewer {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<json> replies;
  uint64_t binaryBytes = 0;
  bool open = false;

  template <typename P> bool waitFor(P predicate, seconds timeout) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, predicate);
  }
  bool hasReply(const std::string& type) {
    for (const auto& r : replies)
      if (r.value("t", "") == type) return true;
    return false;
  }
  json reply(const std::string& type) {
    for (const auto& r : replies)
      if (r.value("t", "") == type) return r;
    return {};
  }
};

} // namespace

int main(int argc, char** argv) {
  const uint64_t downloadBytes = uint64_t(argc > 1 ? std::atoll(argv[1]) : 1024) << 20;
  const uint64_t uploadBytes = uint64_t(argc > 2 ? std::atoll(argv[2]) : 256) << 20;

  char folderTemplate[] = "/tmp/dravnok-files-bench-XXXXXX";
  if (!mkdtemp(folderTemplate)) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::filesystem::path folder = folderTemplate;
  // A sparse file: the figures are about the channel, not the disk.
  const std::string source = (folder / "download.bin").string();
  {
    int fd = ::open(source.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    if (fd < 0 || ::ftruncate(fd, off_t(downloadBytes)) != 0) {
      std::perror("creating the download file");
      return 1;
    }
    ::close(fd);
  }

  // Fork before any thread exists; the helper keeps its files in the folder.
  int sockets[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sockets) != 0) {
    std::perror("socketpair");
    return 1;
  }
  pid_t helper = fork();
  if (helper == 0) {
    ::close(sockets[0]);
    setenv("HOME", folder.c_str(), 1);
    std::_Exit(runHelper(sockets[1]));
  }
  ::close(sockets[1]);

  Signalling signalling(sockets[0]);
  Viewer viewer;
  int rc = 0;
  {
    rtc::PeerConnection pc;
    wire(pc, signalling);
    std::thread reader([&] { signalling.readAll([&pc](const json& message) { apply(pc, message); }); });
    auto channel = pc.createDataChannel("files");
    channel->onOpen([&] {
      std::lock_guard lock(viewer.mutex);
      viewer.open = true;
      viewer.changed.notify_all();
    });
    channel->onMessage(
        [&](rtc::binary data) {
          std::lock_guard lock(viewer.mutex);
          viewer.binaryBytes += data.size();
          viewer.changed.notify_all();
        },
        [&](std::string text) {
          auto message = json::parse(text, nullptr, false);
          std::lock_guard lock(viewer.mutex);
          if (!message.is_discarded()) viewer.replies.push_back(std::move(message));
          viewer.changed.notify_all();
        });
    channel->setBufferedAmountLowThreshold(2 << 20);
    channel->onBufferedAmountLow([&] { viewer.changed.notify_all(); });
    pc.setLocalDescription();

    if (!viewer.waitFor([&] { return viewer.open && viewer.hasReply("hello"); }, seconds(30))) {
      std::fprintf(stderr, "the files channel did not open\n");
      rc = 1;
    }

    // A send throws when it fails (false only says it was queued).
    try {
      // Download.
      if (rc == 0) {
        const double helperCpu = cpuSecondsOf(helper);
        const double ownCpu = ownCpuSeconds();
        const auto start = steady_clock::now();
        channel->send(json{{"t", "get"}, {"path", source}}.dump());
        if (!viewer.waitFor([&] { return viewer.hasReply("get-done") || viewer.hasReply("error"); }, seconds(600)) ||
            !viewer.hasReply("get-done") || viewer.binaryBytes != downloadBytes) {
          std::fprintf(stderr, "the download failed (%llu bytes arrived)\n", (unsigned long long)viewer.binaryBytes);
          rc = 1;
        } else {
          const double secs = duration<double>(steady_clock::now() - start).count();
          std::printf("download: %.1f MB/s (%llu MiB in %.2f s), CPU helper %.2f s, viewer %.2f s; "
                      "helper peak resident memory %.1f MiB\n",
                      double(downloadBytes) / secs / 1e6, (unsigned long long)(downloadBytes >> 20), secs,
                      cpuSecondsOf(helper) - helperCpu, ownCpuSeconds() - ownCpu, peakResidentKiB(helper) / 1024.0);
          std::fflush(stdout);
        }
      }

      // Upload.
      if (rc == 0 && uploadBytes > 0) {
        channel->send(
            json{{"t", "put"}, {"name", "upload.bin"}, {"dir", folder.string()}, {"size", uploadBytes}}.dump());
        if (!viewer.waitFor([&] { return viewer.hasReply("put-ready") || viewer.hasReply("error"); }, seconds(30)) ||
            !viewer.hasReply("put-ready")) {
          std::fprintf(stderr, "the upload was refused\n");
          rc = 1;
        } else {
          const double helperCpu = cpuSecondsOf(helper);
          const double ownCpu = ownCpuSeconds();
          const auto start = steady_clock::now();
          rtc::binary chunk(64 * 1024, std::byte{0x5a});
          for (uint64_t sent = 0; sent < uploadBytes;) {
            if (channel->bufferedAmount() > (8u << 20)) {
              viewer.waitFor([&] { return channel->bufferedAmount() <= (2u << 20); }, seconds(1));
              continue;
            }
            size_t size = size_t(std::min<uint64_t>(chunk.size(), uploadBytes - sent));
            channel->send(chunk.data(), size);
            sent += size;
          }
          channel->send(json{{"t", "put-done"}}.dump());
          if (!viewer.waitFor([&] { return viewer.hasReply("put-ok") || viewer.hasReply("error"); }, seconds(600)) ||
              !viewer.hasReply("put-ok")) {
            std::fprintf(stderr, "the upload failed: %s\n", viewer.reply("error").dump().c_str());
            rc = 1;
          } else {
            const double secs = duration<double>(steady_clock::now() - start).count();
            std::printf("upload: %.1f MB/s (%llu MiB in %.2f s), CPU helper %.2f s, viewer %.2f s\n",
                        double(uploadBytes) / secs / 1e6, (unsigned long long)(uploadBytes >> 20), secs,
                        cpuSecondsOf(helper) - helperCpu, ownCpuSeconds() - ownCpu);
          }
        }
      }
    } catch (const std::runtime_error& e) {
      std::fprintf(stderr, "a send failed: %s\n", e.what());
      rc = 1;
    }

    ::shutdown(sockets[0], SHUT_WR); // the helper ends its side
    reader.join();
    pc.close();
  }
  ::close(sockets[0]);
  int status = 0;
  waitpid(helper, &status, 0);
  std::filesystem::remove_all(folder);
  return rc;
}
