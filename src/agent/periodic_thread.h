#pragma once
// A thread that runs a task at a fixed interval until its owner destroys
// it; the destructor wakes and joins it.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace dravnok::agent {

class PeriodicThread {
public:
  PeriodicThread(std::chrono::milliseconds interval, std::function<void()> task);
  ~PeriodicThread();
  PeriodicThread(const PeriodicThread&) = delete;
  PeriodicThread& operator=(const PeriodicThread&) = delete;

private:
  void run();

  std::chrono::milliseconds interval_;
  std::function<void()> task_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_; // last: it uses the members above
};

} // namespace dravnok::agent
