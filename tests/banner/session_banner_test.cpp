#include "banner/session_banner.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace dravnok;

namespace {

// A window thread that records what it was shown and blocks until woken, as
// a message loop does.
class FakeWindow : public BannerWindowThread {
public:
  struct Record {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::u16string> shown;
    int wakes = 0;
    int joins = 0;
    bool pendingWake = false;
    bool failNext = false;
  };

  explicit FakeWindow(Record& record) : record_(record) {}

  void run(SessionBanner& banner) override {
    std::unique_lock lock(record_.mutex);
    record_.shown.push_back(banner.text());
    record_.changed.notify_all();
    if (std::exchange(record_.failNext, false)) return banner.windowFailed();
    // A wake that came before the loop started is still seen.
    record_.changed.wait(lock, [&] { return record_.pendingWake; });
    record_.pendingWake = false;
  }
  void wake() override {
    std::lock_guard lock(record_.mutex);
    ++record_.wakes;
    record_.pendingWake = true;
    record_.changed.notify_all();
  }
  void joined() override {
    std::lock_guard lock(record_.mutex);
    ++record_.joins;
  }

private:
  Record& record_;
};

// One fake window thread per test, and the banner that drives it.
struct SessionBannerTest : testing::Test {
  FakeWindow::Record record;
  SessionBanner banner{std::make_unique<FakeWindow>(record)};

  void waitForShows(size_t count) {
    std::unique_lock lock(record.mutex);
    record.changed.wait(lock, [&] { return record.shown.size() >= count; });
  }
};

} // namespace

TEST_F(SessionBannerTest, ASecondShowKeepsTheFirstTextAndAShowAfterHideStartsAFreshThread) {
  banner.show(u"Ann");
  banner.show(u"Bob");
  waitForShows(1);
  EXPECT_TRUE(banner.running());
  banner.hide(); // returns once the thread has been joined
  EXPECT_FALSE(banner.running());
  banner.hide(); // nothing left to wake
  banner.show(u"Cy");
  waitForShows(2);
  banner.hide();
  EXPECT_EQ(record.shown, (std::vector<std::u16string>{u"Ann", u"Cy"}));
  EXPECT_EQ(std::pair(record.wakes, record.joins), std::pair(2, 2));
}

TEST_F(SessionBannerTest, AThreadThatFailedIsJoinedAndTheNextShowRetries) {
  record.failNext = true;
  banner.show(u"no display");
  waitForShows(1);
  while (banner.running()) std::this_thread::yield();
  banner.hide(); // nothing to wake
  banner.show(u"display back");
  waitForShows(2);
  EXPECT_TRUE(banner.running());
  EXPECT_EQ(record.joins, 1); // the failed thread, before the new one started
  banner.shutdown();
  EXPECT_EQ(record.shown.back(), u"display back");
  EXPECT_EQ(std::pair(record.wakes, record.joins), std::pair(1, 2));
}

TEST_F(SessionBannerTest, ConcurrentStateChangesLeaveNoThreadBehind) {
  std::vector<std::thread> callers;
  for (int t = 0; t < 4; ++t) {
    callers.emplace_back([this, t] {
      for (int i = 0; i < 50; ++i) (i + t) % 2 ? banner.show(u"x") : banner.hide();
    });
  }
  for (auto& caller : callers) caller.join();
  banner.shutdown(); // joins whatever is still shown, as the destructor does
  std::lock_guard lock(record.mutex);
  EXPECT_EQ(record.joins, static_cast<int>(record.shown.size()));
}
