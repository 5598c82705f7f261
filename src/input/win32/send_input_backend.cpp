// Injection with SendInput onto the Windows desktop.
#include "input/input_backend.h"

#include <windows.h>

#include <array>
#include <vector>

namespace dravnok {
namespace {

static_assert(sizeof(INPUT) == 40, "the 64-bit INPUT record");
static_assert(mouseflag::move == MOUSEEVENTF_MOVE && mouseflag::leftDown == MOUSEEVENTF_LEFTDOWN &&
              mouseflag::leftUp == MOUSEEVENTF_LEFTUP && mouseflag::rightDown == MOUSEEVENTF_RIGHTDOWN &&
              mouseflag::rightUp == MOUSEEVENTF_RIGHTUP && mouseflag::middleDown == MOUSEEVENTF_MIDDLEDOWN &&
              mouseflag::middleUp == MOUSEEVENTF_MIDDLEUP && mouseflag::wheel == MOUSEEVENTF_WHEEL &&
              mouseflag::hwheel == MOUSEEVENTF_HWHEEL && mouseflag::virtualDesk == MOUSEEVENTF_VIRTUALDESK &&
              mouseflag::absolute == MOUSEEVENTF_ABSOLUTE);
static_assert(keyflag::extendedKey == KEYEVENTF_EXTENDEDKEY && keyflag::keyUp == KEYEVENTF_KEYUP &&
              keyflag::unicode == KEYEVENTF_UNICODE);
static_assert(normalizedMax == 65535 && wheelDelta == WHEEL_DELTA);

INPUT toInput(const InputRecord& record) {
  INPUT input{};
  if (const auto* mouse = std::get_if<MouseInput>(&record)) {
    input.type = INPUT_MOUSE;
    input.mi.dx = mouse->dx;
    input.mi.dy = mouse->dy;
    input.mi.mouseData = static_cast<DWORD>(mouse->mouseData);
    input.mi.dwFlags = mouse->flags;
    input.mi.time = 0;
    input.mi.dwExtraInfo = 0;
  } else {
    const auto& key = std::get<KeyboardInput>(record);
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key.vk;
    input.ki.wScan = key.scan;
    input.ki.dwFlags = key.flags;
    input.ki.time = 0;
    input.ki.dwExtraInfo = 0;
  }
  return input;
}

using SendSasFn = VOID(WINAPI*)(BOOL);

// Resolved once per process; absent stays absent.
SendSasFn sendSas() {
  static SendSasFn function = [] {
    HMODULE module = LoadLibraryW(L"sas.dll");
    if (!module) return SendSasFn(nullptr);
    return reinterpret_cast<SendSasFn>(reinterpret_cast<void*>(GetProcAddress(module, "SendSAS")));
  }();
  return function;
}

class SendInputBackend final : public InputBackend {
public:
  void send(std::span<const InputRecord> records) override {
    if (records.empty()) return;
    // Events are a handful of records; only typed text needs the heap.
    std::array<INPUT, 4> small;
    std::vector<INPUT> large;
    INPUT* inputs = small.data();
    if (records.size() > small.size()) {
      large.resize(records.size());
      inputs = large.data();
    }
    for (size_t i = 0; i < records.size(); ++i) inputs[i] = toInput(records[i]);
    // Input that Windows refuses (a window of higher integrity) is lost
    // silently; there is nothing better to do with it.
    SendInput(static_cast<UINT>(records.size()), inputs, sizeof(INPUT));
  }

  VirtualDesktop virtualDesktop() override {
    return {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
            GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)};
  }

  uint32_t currentProcessId() override { return GetCurrentProcessId(); }

  uint32_t foregroundProcessId() override {
    HWND window = GetForegroundWindow();
    if (!window) return 0;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
  }

  void pause(int milliseconds) override { Sleep(static_cast<DWORD>(milliseconds)); }

  void secureAttention() override {
    if (SendSasFn function = sendSas()) function(FALSE);
  }
};

} // namespace

std::unique_ptr<InputBackend> makeSystemInputBackend() { return std::make_unique<SendInputBackend>(); }

} // namespace dravnok
