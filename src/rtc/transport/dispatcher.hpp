#pragma once
// The connection's callback thread: user callbacks run here, one at a time
// and in the order the transport produced them, so that no user code runs on
// the transport's own threads or under their locks.
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace rtc::impl {

class Dispatcher {
public:
  Dispatcher();
  ~Dispatcher();
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  void post(std::function<void()> task);
  bool onDispatcherThread() const;
  // Runs what is queued, then ends the thread. From the dispatcher's own
  // thread (a callback destroying its connection) the thread finishes after
  // the current callback and is joined later by the reaper.
  void stop();

private:
  struct Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> tasks;
    bool stopping = false;
    bool finished = false;
  };
  static void run(std::shared_ptr<Shared> shared);

  std::shared_ptr<Shared> shared_;
  std::thread thread_;
  std::thread::id threadId_;
};

} // namespace rtc::impl
