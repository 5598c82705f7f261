#include "banner/session_banner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

using namespace dravnok;

namespace {

// A window thread that blocks until woken, as a message loop does; every
// third one gives up at once, as one without a display does.
class FakeWindow : public BannerWindowThread {
public:
  std::atomic<int> started{0};
  std::atomic<int> joins{0};
  std::atomic<bool> failAll{false};

  void run(SessionBanner& banner) override {
    if (++started % 3 == 0 || failAll) return banner.windowFailed();
    std::unique_lock lock(mutex_);
    // A wake that came before the loop started is still seen.
    woken_.wait(lock, [&] { return pendingWake_; });
    pendingWake_ = false;
  }
  void wake() override {
    std::lock_guard lock(mutex_);
    pendingWake_ = true;
    woken_.notify_all();
  }
  // As the real windows do, a wake meant for a thread that had already left
  // is dropped.
  void joined() override {
    std::lock_guard lock(mutex_);
    pendingWake_ = false;
    ++joins;
  }

private:
  std::mutex mutex_;
  std::condition_variable woken_;
  bool pendingWake_ = false;
};

} // namespace

// Every thread started is joined exactly once: by hide, by the next show
// when it ended by itself, or by shutdown.
TEST(SessionBanner, ConcurrentShowsAndHidesLeaveNoThreadBehind) {
  auto window = std::make_unique<FakeWindow>();
  FakeWindow& fake = *window;
  SessionBanner banner(std::move(window));
  std::vector<std::thread> callers;
  for (int t = 0; t < 4; ++t) {
    callers.emplace_back([&banner, t] {
      for (int i = 0; i < 50; ++i) (i + t) % 2 ? banner.show(u"x") : banner.hide();
    });
  }
  for (auto& caller : callers) caller.join();
  banner.shutdown();
  EXPECT_EQ(fake.joins.load(), fake.started.load());
  fake.failAll = true;
  banner.show(u"x");
  while (banner.running()) std::this_thread::yield();
  banner.shutdown(); // as the destructor does
  EXPECT_EQ(fake.joins.load(), fake.started.load());
}
