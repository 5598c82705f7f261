#include "transport/dispatcher.hpp"

#include "transport/guarded.hpp"

#include <vector>

namespace rtc::impl {
namespace {

// Threads of dispatchers that were stopped from their own callback. Each is
// joined once it has left its loop, or at the latest when the process ends.
class Reaper {
public:
  ~Reaper() {
    std::vector<Entry> all;
    {
      std::lock_guard lock(mutex_);
      all.swap(entries_);
    }
    for (auto& e : all) e.thread.join();
  }

  void adopt(std::thread thread, std::shared_ptr<const bool> finished, std::mutex* finishedMutex) {
    std::lock_guard lock(mutex_);
    entries_.push_back({std::move(thread), std::move(finished), finishedMutex});
  }

  // Joins the adopted threads that have finished; never waits on a busy one.
  void reapFinished(std::thread::id self) {
    std::vector<Entry> done;
    {
      std::lock_guard lock(mutex_);
      for (auto it = entries_.begin(); it != entries_.end();) {
        bool finished;
        {
          std::lock_guard l(*it->finishedMutex);
          finished = *it->finished;
        }
        if (finished && it->thread.get_id() != self) {
          done.push_back(std::move(*it));
          it = entries_.erase(it);
        } else {
          ++it;
        }
      }
    }
    for (auto& e : done) e.thread.join();
  }

private:
  struct Entry {
    std::thread thread;
    std::shared_ptr<const bool> finished;
    std::mutex* finishedMutex;
  };
  std::mutex mutex_;
  std::vector<Entry> entries_;
};

Reaper& reaper() {
  static Reaper instance;
  return instance;
}

} // namespace

Dispatcher::Dispatcher() : shared_(std::make_shared<Shared>()) {
  reaper().reapFinished(std::this_thread::get_id());
  thread_ = std::thread(&Dispatcher::run, shared_);
  threadId_ = thread_.get_id();
}

Dispatcher::~Dispatcher() { stop(); }

void Dispatcher::post(std::function<void()> task) {
  {
    std::lock_guard lock(shared_->mutex);
    if (shared_->finished) return;
    shared_->tasks.push_back(std::move(task));
  }
  shared_->wake.notify_one();
}

bool Dispatcher::onDispatcherThread() const { return std::this_thread::get_id() == threadId_; }

void Dispatcher::stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(shared_->mutex);
    shared_->stopping = true;
  }
  shared_->wake.notify_one();
  if (onDispatcherThread()) {
    // The flag lives in Shared, which the running thread keeps alive.
    auto finished = std::shared_ptr<const bool>(shared_, &shared_->finished);
    reaper().adopt(std::move(thread_), std::move(finished), &shared_->mutex);
  } else {
    thread_.join();
  }
}

void Dispatcher::run(std::shared_ptr<Shared> shared) {
  std::unique_lock lock(shared->mutex);
  for (;;) {
    shared->wake.wait(lock, [&] { return shared->stopping || !shared->tasks.empty(); });
    if (shared->tasks.empty()) break;
    auto task = std::move(shared->tasks.front());
    shared->tasks.pop_front();
    lock.unlock();
    guarded("a callback", task);
    task = nullptr; // release captured objects outside the lock
    lock.lock();
  }
  shared->finished = true;
}

} // namespace rtc::impl
