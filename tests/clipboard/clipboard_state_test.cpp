#include "clipboard/clipboard_state.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace dravnok::clipboard;
using Clock = std::chrono::steady_clock;

// The watcher asks for our latest write's sequence number: at once when no
// write is under way, after one that ends, and after 250 ms for one that hangs.
TEST(ClipboardState, SettledSequenceWaitsForWritesUnderWayButNotForEver) {
  ClipboardState state(false);
  state.ownClipboardSequence = 7;
  auto start = Clock::now();
  EXPECT_EQ(state.settledOwnSequence(), 7u);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));

  state.writesInProgress = 1;
  start = Clock::now();
  EXPECT_EQ(state.settledOwnSequence(), 7u);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(250));

  state.writesInProgress = 2;
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    state.ownClipboardSequence = 8;
    state.writesInProgress -= 2;
  });
  EXPECT_EQ(state.settledOwnSequence(), 8u);
  writer.join();

  state.pendingImage = "QUJD";
  state.pendingTotal = 3;
  state.pendingCount = 1;
  state.resetPendingImage();
  EXPECT_EQ(state.pendingImage, "");
  EXPECT_EQ(state.pendingTotal + state.pendingCount, 0);
}
