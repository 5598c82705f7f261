#include "input/input_injector.h"

#include "common/utf.h"
#include "input/key_tables.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace dravnok {
namespace {

int32_t atLeastOne(int32_t value) { return value < 1 ? 1 : value; }

// Viewer positions are fractions of the monitor; anything outside (or not a
// number at all) is pinned to the nearest edge.
double clampUnit(double value) {
  if (!(value >= 0.0)) return 0.0;
  return value > 1.0 ? 1.0 : value;
}

int32_t normalize(double pixel, int32_t origin, int32_t size) {
  double n = (pixel - origin) * double(normalizedMax) / double(atLeastOne(size)) + 0.5;
  return int32_t(std::clamp(n, 0.0, double(normalizedMax)));
}

// A browser wheel step of 100 is one notch. Saturates rather than overflow
// on absurd deltas.
int32_t wheelValue(double browserDelta) {
  double value = std::trunc(browserDelta * wheelDelta / 100.0);
  constexpr double lo = std::numeric_limits<int32_t>::min();
  constexpr double hi = std::numeric_limits<int32_t>::max();
  if (!(value >= lo)) return std::numeric_limits<int32_t>::min();
  if (value > hi) return std::numeric_limits<int32_t>::max();
  return int32_t(value);
}

MouseInput buttonInput(int32_t button, bool down) {
  switch (button) {
  case 1:
    return {0, 0, 0, down ? mouseflag::middleDown : mouseflag::middleUp};
  case 2:
    return {0, 0, 0, down ? mouseflag::rightDown : mouseflag::rightUp};
  default:
    return {0, 0, 0, down ? mouseflag::leftDown : mouseflag::leftUp};
  }
}

KeyboardInput keyInput(const KeyInfo& key, bool down) {
  uint32_t flags = (key.extended ? keyflag::extendedKey : 0u) | (down ? 0u : keyflag::keyUp);
  return {key.vk, 0, flags};
}

} // namespace

InputInjector::InputInjector(bool viewOnly, int32_t width, int32_t height, int32_t left, int32_t top, uint32_t agentPid)
    : InputInjector(makeSystemInputBackend(), viewOnly, width, height, left, top, agentPid) {}

InputInjector::InputInjector(std::unique_ptr<InputBackend> backend, bool viewOnly, int32_t width, int32_t height,
                             int32_t left, int32_t top, uint32_t agentPid)
    : backend_(std::move(backend)), viewOnly_(viewOnly), width_(atLeastOne(width)), height_(atLeastOne(height)),
      left_(left), top_(top), ownPid_(backend_->currentProcessId()), agentPid_(agentPid) {}

void InputInjector::setDisplay(int32_t width, int32_t height, int32_t left, int32_t top) {
  width_.store(atLeastOne(width), std::memory_order_relaxed);
  height_.store(atLeastOne(height), std::memory_order_relaxed);
  left_.store(left, std::memory_order_relaxed);
  top_.store(top, std::memory_order_relaxed);
}

MonitorRect InputInjector::display() const {
  return {width_.load(std::memory_order_relaxed), height_.load(std::memory_order_relaxed),
          left_.load(std::memory_order_relaxed), top_.load(std::memory_order_relaxed)};
}

bool InputInjector::foregroundProtected() {
  uint32_t pid = backend_->foregroundProcessId();
  if (pid == 0) return false;
  return pid == ownPid_ || (agentPid_ != 0 && pid == agentPid_) || (helperPid_ != 0 && pid == helperPid_);
}

bool InputInjector::allowed() { return !viewOnly_ && !foregroundProtected(); }

void InputInjector::sendOne(const InputRecord& record) { backend_->send(std::span(&record, 1)); }

MouseInput InputInjector::absoluteMove(double x, double y) {
  MonitorRect rect = display();
  double px = rect.width * clampUnit(x) + rect.left;
  double py = rect.height * clampUnit(y) + rect.top;
  VirtualDesktop desktop = backend_->virtualDesktop();
  return {normalize(px, desktop.left, desktop.width), normalize(py, desktop.top, desktop.height), 0,
          mouseflag::absoluteMove};
}

void InputInjector::moveAbsolute(double x, double y) { sendOne(absoluteMove(x, y)); }

void InputInjector::movePointer(double x, double y) {
  if (!allowed()) return;
  moveAbsolute(x, y);
}

void InputInjector::mouseButton(double x, double y, int32_t button, bool down) {
  if (!allowed()) return;
  moveAbsolute(x, y);
  sendOne(buttonInput(button, down));
}

void InputInjector::scroll(double x, double y, double dx, double dy) {
  if (!allowed()) return;
  moveAbsolute(x, y);
  // A positive browser dy scrolls down, which is a negative wheel value.
  if (dy != 0) sendOne(MouseInput{0, 0, wheelValue(-dy), mouseflag::wheel});
  if (dx != 0) sendOne(MouseInput{0, 0, wheelValue(dx), mouseflag::hwheel});
}

void InputInjector::tap(double x, double y) {
  if (!allowed()) return;
  moveAbsolute(x, y);
  sendOne(buttonInput(0, true));
  sendOne(buttonInput(0, false));
}

void InputInjector::swipe(double x, double y, double x2, double y2, int32_t ms) {
  if (!allowed()) return;
  moveAbsolute(x, y);
  sendOne(buttonInput(0, true));
  const int duration = std::clamp(ms, 0, 5000);
  const int steps = std::clamp(duration / 10, 1, 200);
  const int pause = duration / steps;
  for (int i = 1; i <= steps; ++i) {
    moveAbsolute(x + (x2 - x) * i / steps, y + (y2 - y) * i / steps);
    if (pause > 0) backend_->pause(pause);
  }
  moveAbsolute(x2, y2);
  sendOne(buttonInput(0, false));
}

void InputInjector::typeText(std::string_view text) {
  if (viewOnly_ || text.empty()) return;
  if (foregroundProtected()) return;
  // No UTF-16 unit takes more than three bytes of UTF-8: a longer text is
  // over the limit without being converted.
  if (text.size() > 3 * kMaxTypedUnits) return;
  std::u16string units = utf8ToUtf16(text);
  if (units.empty() || units.size() > kMaxTypedUnits) return;
  // Characters beyond the basic plane go out as their two surrogate units.
  std::vector<InputRecord> records;
  records.reserve(units.size() * 2);
  for (char16_t unit : units) {
    records.push_back(KeyboardInput{0, uint16_t(unit), keyflag::unicode});
    records.push_back(KeyboardInput{0, uint16_t(unit), keyflag::unicode | keyflag::keyUp});
  }
  backend_->send(records);
}

void InputInjector::pressKeyName(std::string_view key) {
  if (viewOnly_ || key.empty()) return;
  if (foregroundProtected()) return;
  auto info = lookupKeyName(key);
  if (!info) return;
  std::array<InputRecord, 2> records{keyInput(*info, true), keyInput(*info, false)};
  backend_->send(records);
}

void InputInjector::keyByCode(std::string_view code, bool down) {
  if (viewOnly_ || code.empty()) return;
  if (foregroundProtected()) return;
  auto info = lookupCode(code);
  if (!info) return;
  sendOne(keyInput(*info, down));
}

void InputInjector::pasteShortcut() {
  if (!allowed()) return;
  constexpr KeyInfo control{vkControl, 0};
  constexpr KeyInfo v{'V', 0};
  std::array<InputRecord, 4> records{keyInput(control, true), keyInput(v, true), keyInput(v, false),
                                     keyInput(control, false)};
  backend_->send(records);
}

void InputInjector::sendSecureAttention() {
  // No foreground check: the sequence is meant to work whatever is in front.
  if (viewOnly_) return;
  backend_->secureAttention();
}

} // namespace dravnok
