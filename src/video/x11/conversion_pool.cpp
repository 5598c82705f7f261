#include "video/conversion_pool.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace dravnok::video {
namespace {

// Our own threads, woken per job; the Windows build uses the system pool.
class ThreadConversionPool final : public ConversionPool {
public:
  explicit ThreadConversionPool(int helpers) {
    for (int i = 0; i < helpers; ++i) threads.emplace_back([this] { helperLoop(); });
  }

  ~ThreadConversionPool() override {
    {
      std::lock_guard lock(mutex);
      stopping = true;
    }
    wake.notify_all();
    for (auto& thread : threads) thread.join();
  }

  void runOnAll(const std::function<void()>& work) override {
    {
      std::lock_guard lock(mutex);
      task = &work;
      unfinished = static_cast<int>(threads.size());
      ++generation;
    }
    wake.notify_all();
    work();
    std::unique_lock lock(mutex);
    done.wait(lock, [this] { return unfinished == 0; });
    task = nullptr;
  }

private:
  void helperLoop() {
    uint64_t seen = 0;
    std::unique_lock lock(mutex);
    for (;;) {
      wake.wait(lock, [&] { return stopping || generation != seen; });
      if (stopping) return;
      seen = generation;
      const std::function<void()>* work = task;
      lock.unlock();
      (*work)();
      lock.lock();
      if (--unfinished == 0) done.notify_one();
    }
  }

  std::mutex mutex;
  std::condition_variable wake;
  std::condition_variable done;
  const std::function<void()>* task = nullptr;
  uint64_t generation = 0;
  int unfinished = 0;
  bool stopping = false;
  std::vector<std::thread> threads;
};

} // namespace

std::unique_ptr<ConversionPool> ConversionPool::create(int helpers) {
  return std::make_unique<ThreadConversionPool>(helpers);
}

} // namespace dravnok::video
