#include "video/latest_pictures_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

namespace dravnok::video {
namespace {

TEST(LatestPicturesQueue, KeepsTheTwoNewestAndReleasesTheOldest) {
  LatestPicturesQueue<std::shared_ptr<int>> queue;
  auto first = std::make_shared<int>(1);
  std::weak_ptr<int> firstAlive = first;
  queue.push(std::move(first), 10);
  queue.push(std::make_shared<int>(2), 20);
  queue.push(std::make_shared<int>(3), 30);
  EXPECT_TRUE(firstAlive.expired());
  auto never = [] { return false; };
  EXPECT_EQ(queue.waitAndTake(never)->timestamp, 20);
  EXPECT_EQ(queue.waitAndTake(never)->timestamp, 30);
}

TEST(LatestPicturesQueue, AWaitingTakerWakesOnStop) {
  LatestPicturesQueue<int> queue;
  std::atomic<bool> stopped{false};
  std::optional<LatestPicturesQueue<int>::Entry> taken{LatestPicturesQueue<int>::Entry{0, 0}};
  std::thread taker([&] { taken = queue.waitAndTake([&] { return stopped.load(); }); });
  stopped = true;
  queue.wake();
  taker.join();
  EXPECT_FALSE(taken.has_value());
}

} // namespace
} // namespace dravnok::video
