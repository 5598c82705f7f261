#pragma once
// Pictures waiting for an encoder that asks for input in its own time. At
// most two wait: an encoder that falls behind loses the oldest pictures
// instead of adding delay.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace dravnok::video {

template <class Picture> class LatestPicturesQueue {
public:
  struct Entry {
    Picture picture;
    int64_t timestamp;
  };

  void push(Picture picture, int64_t timestamp) {
    {
      std::lock_guard lock(mutex);
      if (entries.size() > 1) entries.pop_front();
      entries.push_back(Entry{std::move(picture), timestamp});
    }
    ready.notify_all();
  }

  // Waits until a picture is there or `stopped()` turns true.
  template <class Stopped> std::optional<Entry> waitAndTake(Stopped stopped) {
    std::unique_lock lock(mutex);
    ready.wait(lock, [&] { return !entries.empty() || stopped(); });
    if (entries.empty()) return std::nullopt;
    Entry entry = std::move(entries.front());
    entries.pop_front();
    return entry;
  }

  // Wakes a waiting taker so it can see that it should stop.
  void wake() {
    { std::lock_guard lock(mutex); }
    ready.notify_all();
  }

  void clear() {
    std::lock_guard lock(mutex);
    entries.clear();
  }

private:
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<Entry> entries;
};

} // namespace dravnok::video
