// fuzz-deps: dravnok::host
// fuzz-max-len: 1100000
// Whatever arrives on stdin, a command line is acted on or dropped with a
// warning: nothing throws, and a session call only carries what the line held.
#include "host/control_loop.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

class RecordingSession : public dravnok::SessionControl {
public:
  void start(const std::string& sessionId, bool, const std::vector<dravnok::IceServerEntry>& servers,
             uint32_t) override {
    calls += sessionId.size() + servers.size();
  }
  void handleOffer(const std::string& sdp) override { calls += sdp.size(); }
  void addRemoteCandidate(const std::string& candidate, const std::string& mid) override {
    calls += candidate.size() + mid.size();
  }
  void stop() override { ++calls; }
  size_t calls = 0;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The warnings go to stdout as event lines; they would drown the fuzzer's own output.
  if (!std::freopen("/dev/null", "w", stdout)) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RecordingSession session;
  dravnok::host::HostState state;
  const std::string line(reinterpret_cast<const char*>(data), size);
  dravnok::host::handleCommandLine(line, session, state);
  // A command that names a viewer cannot have done so with more than the line held.
  if (state.currentViewerName().size() > size) std::abort();
  return 0;
}
