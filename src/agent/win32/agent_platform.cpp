#include "agent/agent_platform.h"

#include "common/win32/unique_handle.h"
#include "common/win32/wide.h"

#include <atomic>
#include <thread>

namespace dravnok::agent {

std::string programFolder() {
  std::wstring path(32768, L'\0');
  DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::string(".") : fromWide(std::wstring_view(path).substr(0, slash));
}

std::string helperFileName() { return "remote-helper.exe"; }

void forgetEnvironmentVariable(const char* name) {
  // Both copies: the C runtime's and the process's, which children inherit.
  _putenv_s(name, "");
  SetEnvironmentVariableW(toWide(name).c_str(), nullptr);
}

void keepFromChildren(std::intptr_t socket) {
  SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
}

namespace {

// The console's handler runs on a thread of the system's; it only wakes ours.
std::atomic<HANDLE> stopEvent{nullptr};

BOOL WINAPI onConsoleEvent(DWORD) {
  if (HANDLE event = stopEvent.load()) SetEvent(event);
  return TRUE;
}

} // namespace

struct StopRequests::State {
  UniqueHandle event{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::thread waiter;
};

StopRequests::StopRequests(std::function<void()> onStop) : state_(std::make_unique<State>()) {
  stopEvent = state_->event.get();
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
  state_->waiter = std::thread([event = state_->event.get(), onStop = std::move(onStop)] {
    WaitForSingleObject(event, INFINITE);
    onStop();
  });
}

StopRequests::~StopRequests() {
  raise();
  state_->waiter.join();
  SetConsoleCtrlHandler(onConsoleEvent, FALSE);
  stopEvent = nullptr;
}

void StopRequests::raise() { SetEvent(state_->event.get()); }

} // namespace dravnok::agent
