#pragma once
// Owns the CLIPBOARD selection for what we placed there and serves it to
// other clients from a thread of its own, large contents in increments.
#include "clipboard/clipboard_state.h"
#include "clipboard/x11/x_display.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace dravnok::clipboard {

struct ClipboardContent {
  enum class Kind { Text, Png };
  Kind kind = Kind::Text;
  std::string bytes; // UTF-8 text or PNG bytes
};

class SelectionOwner {
public:
  // Nothing when there is no X display. `ownSequence` receives the
  // selection time of each successful placement: that time is what the
  // watcher sees for the change, so our own writes can be recognised.
  static std::unique_ptr<SelectionOwner, SelectionOwnerDeleter> create(std::atomic<uint32_t>& ownSequence);
  ~SelectionOwner();

  // Takes the selection with `content`; false when the server refused or
  // the owner thread did not answer.
  bool place(ClipboardContent content);

private:
  struct Transfer {
    Window requestor;
    Atom property;
    Atom type;
    std::shared_ptr<const ClipboardContent> content;
    size_t offset;
    std::chrono::steady_clock::time_point lastActivity;
  };

  SelectionOwner(DisplayConnection display, std::atomic<uint32_t>& ownSequence);
  void run();
  void wake();
  void handle(const XEvent& event);
  void takeRequest();
  void finishPlacing(Time time);
  void serve(const XSelectionRequestEvent& request);
  bool answer(const XSelectionRequestEvent& request, Atom property);
  std::vector<Atom> targetsFor(const ClipboardContent& content) const;
  void continueTransfer(const XPropertyEvent& event);
  void dropStaleTransfers();

  DisplayConnection display_;
  Window window_ = 0;
  Atom clipboard_, targets_, timestamp_, incr_, utf8String_, textPlain_, imagePng_, placeTime_;
  size_t chunkBytes_ = 0;
  int wakeFd_ = -1;
  std::atomic<uint32_t>& ownSequence_;
  std::atomic<bool> quit_{false};

  std::mutex placeMutex_; // one placement at a time
  std::mutex mutex_;
  std::condition_variable answered_;
  std::optional<ClipboardContent> request_;
  uint64_t requestId_ = 0;
  uint64_t answeredId_ = 0;
  bool answeredOk_ = false;

  // The owner thread's own.
  std::optional<ClipboardContent> placing_;
  uint64_t placingId_ = 0;
  std::shared_ptr<const ClipboardContent> current_;
  Time ownedSince_ = 0;
  std::vector<Transfer> transfers_;

  std::thread thread_; // last: starts after everything above exists
};

} // namespace dravnok::clipboard
