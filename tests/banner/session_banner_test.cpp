#include "banner/session_banner.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
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
    bool holdStart = false;
  };

  explicit FakeWindow(Record& record) : record_(record) {}

  void run(SessionBanner& banner) override {
    std::unique_lock lock(record_.mutex);
    record_.changed.wait(lock, [&] { return !record_.holdStart; });
    record_.shown.push_back(banner.text());
    record_.changed.notify_all();
    if (record_.failNext) {
      record_.failNext = false;
      banner.windowFailed();
      return;
    }
    banner.setRenderedSize(static_cast<int>(banner.text().size()), 89);
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

TEST_F(SessionBannerTest, SecondShowKeepsTheFirstTextAndThread) {
  banner.show(u"Ann \u2014 remote support session");
  banner.show(u"Bob \u2014 remote support session");
  waitForShows(1);
  EXPECT_TRUE(banner.running());
  banner.hide();
  EXPECT_FALSE(banner.running());
  ASSERT_EQ(record.shown.size(), 1u);
  EXPECT_EQ(record.shown[0], u"Ann \u2014 remote support session");
  EXPECT_EQ(record.wakes, 1);
  EXPECT_EQ(record.joins, 1);
  banner.hide(); // a second hide does nothing
  EXPECT_EQ(record.wakes, 1);
}

TEST_F(SessionBannerTest, HideBeforeTheThreadStartedStillEndsIt) {
  record.holdStart = true;
  banner.show(u"first");
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::lock_guard lock(record.mutex);
    record.holdStart = false;
    record.changed.notify_all();
  });
  banner.hide(); // returns only once the thread has been joined
  release.join();
  EXPECT_EQ(record.shown.size(), 1u);
  // The next show starts a fresh thread with the new text.
  banner.show(u"second");
  waitForShows(2);
  banner.hide();
  EXPECT_EQ(record.shown.back(), u"second");
  EXPECT_EQ(record.joins, 2);
}

TEST_F(SessionBannerTest, ThreadThatFailedIsJoinedAndTheNextShowRetries) {
  record.failNext = true;
  banner.show(u"no display");
  waitForShows(1);
  while (banner.running()) std::this_thread::yield();
  banner.hide(); // nothing to wake
  EXPECT_EQ(record.wakes, 0);
  banner.show(u"display back");
  waitForShows(2);
  EXPECT_TRUE(banner.running());
  EXPECT_EQ(record.joins, 1); // the failed thread, before the new one started
  banner.shutdown();
  EXPECT_EQ(record.shown.back(), u"display back");
  EXPECT_EQ(record.joins, 2);
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
