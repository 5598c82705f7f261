#include "relay/relay_client.h"

#include "common/win32/wide.h"
#include "relay/pipe_format.h"
#include "relay/win32/relay_pipe.h"

#include <windows.h>

#include <bcrypt.h>
#include <objbase.h>
#include <shellapi.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace dravnok::relay {

namespace {

constexpr DWORD kConnectWaitMs = 8000;
constexpr DWORD kWriteWaitMs = 2000;

// The folder of this program's executable, with its trailing separator.
std::wstring ownFolder() {
  wchar_t path[520] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, 520);
  std::wstring folder(path, n);
  const size_t cut = folder.find_last_of(L"\\/");
  return cut == std::wstring::npos ? std::wstring() : folder.substr(0, cut + 1);
}

NonceBytes pipeNonce() {
  NonceBytes bytes{};
  if (BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(bytes.size()), BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0) {
    return bytes;
  }
  LARGE_INTEGER q{};
  QueryPerformanceCounter(&q);
  return nonceFromCounter(static_cast<uint64_t>(q.QuadPart));
}

struct EventHandle {
  HANDLE h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EventHandle() = default;
  EventHandle(const EventHandle&) = delete;
  EventHandle& operator=(const EventHandle&) = delete;
  ~EventHandle() {
    if (h) CloseHandle(h);
  }
};

} // namespace

struct RelayClient::Impl {
  LogFn log;
  RelayClientSeams seams;
  HANDLE pipe = INVALID_HANDLE_VALUE;
  HANDLE relayProcess = nullptr;
  EventHandle stopEvent;
  EventHandle writeEvent;
  std::mutex pipeMutex;
  std::atomic<bool> connected{false};
  std::atomic<bool> stopping{false};
  std::atomic<int32_t> displayWidth{1};
  std::atomic<int32_t> displayHeight{1};
  std::atomic<int32_t> displayLeft{0};
  std::atomic<int32_t> displayTop{0};
  std::thread launchThread;

  void warn(const std::string& text) const {
    if (log) log("warn", text);
  }

  void storeDisplay(int32_t width, int32_t height, int32_t left, int32_t top) {
    displayWidth = std::max<int32_t>(width, 1);
    displayHeight = std::max<int32_t>(height, 1);
    displayLeft = left;
    displayTop = top;
  }

  std::string currentDisplayMessage() const {
    return displayMessage(displayWidth, displayHeight, displayLeft, displayTop);
  }

  // Caller holds pipeMutex.
  bool writeLocked(const std::string& text) {
    if (pipe == INVALID_HANDLE_VALUE || stopping) return false;
    const std::string data = text + '\n';
    const DWORD length = static_cast<DWORD>(data.size());
    ResetEvent(writeEvent.h);
    OVERLAPPED ov{};
    ov.hEvent = writeEvent.h;
    if (!WriteFile(pipe, data.data(), length, nullptr, &ov)) {
      if (GetLastError() != ERROR_IO_PENDING) return false;
      // A relay that stops reading must not stall the viewer's input.
      if (WaitForSingleObject(writeEvent.h, kWriteWaitMs) != WAIT_OBJECT_0) {
        DWORD ignored = 0;
        CancelIoEx(pipe, &ov);
        GetOverlappedResult(pipe, &ov, &ignored, TRUE);
        return false;
      }
    }
    DWORD written = 0;
    return GetOverlappedResult(pipe, &ov, &written, FALSE) && written == length;
  }

  bool writeLine(const std::string& text) {
    std::lock_guard lock(pipeMutex);
    return writeLocked(text);
  }

  void launch(uint32_t agentPid);
  // Returns true when the relay opened the pipe.
  bool waitForConnect();
  void watchRelay();
};

void RelayClient::Impl::launch(uint32_t agentPid) {
  const std::wstring folder = ownFolder();
  const std::wstring relayPath = folder + toWide(kRelayProgramFile);
  if (GetFileAttributesW(relayPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
    warn("input: dravnok-input-relay.exe is not beside the helper — windows that run as administrator cannot be "
         "controlled");
    return;
  }

  const uint32_t hostPid = GetCurrentProcessId();
  const std::string name = pipeName(hostPid, nonceHex(pipeNonce()));
  const std::wstring sid = currentUserSid();
  if (sid.empty()) {
    warn("input: elevated relay not started — cannot read this user's SID");
    return;
  }

  std::string failure;
  HANDLE created = createRelayPipe(toWide(name), sid, failure);
  if (created == INVALID_HANDLE_VALUE) {
    warn("input: elevated relay not started — " + failure);
    return;
  }
  {
    std::lock_guard lock(pipeMutex);
    if (stopping) {
      CloseHandle(created);
      return;
    }
    pipe = created;
  }

  const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
  const std::wstring parameters = toWide(relayParameters(name, hostPid, agentPid));
  SHELLEXECUTEINFOW exec{};
  exec.cbSize = sizeof(exec);
  exec.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  exec.lpVerb = L"runas";
  exec.lpFile = relayPath.c_str();
  exec.lpParameters = parameters.c_str();
  exec.lpDirectory = folder.c_str();
  exec.nShow = SW_HIDE;
  const BOOL started = ShellExecuteExW(&exec);
  const DWORD startError = GetLastError();
  if (com) CoUninitialize();
  if (!started || !exec.hProcess) {
    warn("input: elevated relay did not start (error " + std::to_string(startError) +
         ") — windows that run as administrator cannot be controlled");
    return;
  }
  {
    std::lock_guard lock(pipeMutex);
    relayProcess = exec.hProcess;
  }

  if (!waitForConnect()) return;

  const uint32_t relayPid = GetProcessId(relayProcess);
  uint32_t clientPid = 0;
  bool known = false;
  if (seams.pipeClientProcessId) {
    known = seams.pipeClientProcessId(pipe, relayPid, clientPid);
  } else {
    ULONG pid = 0;
    known = GetNamedPipeClientProcessId(pipe, &pid);
    clientPid = pid;
  }
  // A client whose id cannot be told is not known to be the relay.
  if (!known || clientPid == 0 || clientPid != relayPid) {
    warn("input: an unexpected process opened the input pipe — relay not used");
    return;
  }

  {
    // The first message and the connected flag go together, so a monitor
    // switch in between cannot leave the relay on the old monitor.
    std::lock_guard lock(pipeMutex);
    if (!writeLocked(currentDisplayMessage())) {
      warn("input: elevated relay connected but did not take the first message");
      return;
    }
    connected = true;
  }
  if (log) {
    log("info", "input: elevated relay ready (pid " + std::to_string(relayPid) +
                    ") — windows that run as administrator can be controlled");
  }
  watchRelay();
}

bool RelayClient::Impl::waitForConnect() {
  EventHandle connectEvent;
  OVERLAPPED ov{};
  ov.hEvent = connectEvent.h;
  if (ConnectNamedPipe(pipe, &ov)) return true;
  const DWORD error = GetLastError();
  if (error == ERROR_PIPE_CONNECTED) return true;
  if (error != ERROR_IO_PENDING) return false;

  const HANDLE waits[] = {connectEvent.h, stopEvent.h, relayProcess};
  const DWORD which = WaitForMultipleObjects(3, waits, FALSE, kConnectWaitMs);
  DWORD ignored = 0;
  if (which == WAIT_OBJECT_0) return GetOverlappedResult(pipe, &ov, &ignored, FALSE) != FALSE;

  CancelIoEx(pipe, &ov);
  GetOverlappedResult(pipe, &ov, &ignored, TRUE);
  if (which == WAIT_OBJECT_0 + 2) {
    DWORD code = 0;
    GetExitCodeProcess(relayProcess, &code);
    warn("input: elevated relay exited before connecting (code " + std::to_string(code) + ")");
  } else if (which == WAIT_TIMEOUT) {
    warn("input: elevated relay did not connect within 8 s");
  }
  return false;
}

void RelayClient::Impl::watchRelay() {
  const HANDLE waits[] = {stopEvent.h, relayProcess};
  if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return;
  connected = false;
  DWORD code = 0;
  GetExitCodeProcess(relayProcess, &code);
  warn("input: elevated relay exited (code " + std::to_string(code) +
       ") — back to normal input; administrator windows cannot be controlled");
}

RelayClient::RelayClient(LogFn log, RelayClientSeams seams) : impl_(std::make_unique<Impl>()) {
  impl_->log = std::move(log);
  impl_->seams = std::move(seams);
}

RelayClient::~RelayClient() { stop(); }

void RelayClient::start(uint32_t agentPid, int32_t width, int32_t height, int32_t left, int32_t top) {
  std::lock_guard lock(impl_->pipeMutex);
  impl_->storeDisplay(width, height, left, top);
  if (impl_->stopping || impl_->launchThread.joinable()) return;
  impl_->launchThread = std::thread([impl = impl_.get(), agentPid] { impl->launch(agentPid); });
}

void RelayClient::stop() {
  impl_->stopping = true;
  SetEvent(impl_->stopEvent.h);
  if (impl_->launchThread.joinable()) impl_->launchThread.join();
  std::lock_guard lock(impl_->pipeMutex);
  impl_->connected = false;
  if (impl_->pipe != INVALID_HANDLE_VALUE) CloseHandle(impl_->pipe);
  impl_->pipe = INVALID_HANDLE_VALUE;
  if (impl_->relayProcess) CloseHandle(impl_->relayProcess);
  impl_->relayProcess = nullptr;
}

bool RelayClient::forward(const std::string& text) {
  if (!impl_->connected) return false;
  if (impl_->writeLine(pipeLine(text))) return true;
  if (impl_->connected.exchange(false)) impl_->warn("input: lost the elevated relay — back to normal input");
  return false;
}

void RelayClient::setDisplay(int32_t width, int32_t height, int32_t left, int32_t top) {
  std::lock_guard lock(impl_->pipeMutex);
  impl_->storeDisplay(width, height, left, top);
  if (impl_->connected) impl_->writeLocked(impl_->currentDisplayMessage());
}

bool RelayClient::connected() const { return impl_->connected; }

} // namespace dravnok::relay
