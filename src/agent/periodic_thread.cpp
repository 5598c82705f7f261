#include "agent/periodic_thread.h"

namespace dravnok::agent {

PeriodicThread::PeriodicThread(std::chrono::milliseconds interval, std::function<void()> task)
    : interval_(interval), task_(std::move(task)), thread_([this] { run(); }) {}

PeriodicThread::~PeriodicThread() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void PeriodicThread::run() {
  std::unique_lock lock(mutex_);
  while (!wake_.wait_for(lock, interval_, [this] { return stopping_; })) {
    lock.unlock();
    task_();
    lock.lock();
  }
}

} // namespace dravnok::agent
