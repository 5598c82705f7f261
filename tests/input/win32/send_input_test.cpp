// SendInput on a real Windows desktop (Wine in our test runs).
#include "input/input_injector.h"
#include "input/process_info.h"

#include <windows.h>

#include <gtest/gtest.h>

using namespace dravnok;

namespace {

// The cursor follows asynchronously; wait a little for it to arrive.
POINT cursorNear(POINT expected) {
  POINT at{};
  for (int i = 0; i < 100; ++i) {
    GetCursorPos(&at);
    if (std::abs(at.x - expected.x) <= 1 && std::abs(at.y - expected.y) <= 1) break;
    Sleep(20);
  }
  return at;
}

} // namespace

TEST(SendInput, AbsoluteMovesLandOnTheSharedMonitor) {
  std::unique_ptr<InputBackend> probe = makeSystemInputBackend();
  const VirtualDesktop desktop = probe->virtualDesktop();
  ASSERT_GT(desktop.width, 1);
  ASSERT_GT(desktop.height, 1);

  // The lower right quarter of the desktop plays the shared monitor.
  const LONG w = desktop.width / 2, h = desktop.height / 2;
  const LONG left = desktop.left + w, top = desktop.top + h;
  InputInjector injector(false, w, h, left, top, 0);
  struct Case {
    double x, y;
    POINT expected;
  };
  const Case cases[] = {
      {0.5, 0.5, {left + w / 2, top + h / 2}},
      {0, 0, {left, top}},
      {0.25, 0.75, {left + w / 4, top + 3 * h / 4}},
      {-3, 9, {left, desktop.top + desktop.height - 1}},
  };
  for (const Case& c : cases) {
    injector.movePointer(c.x, c.y);
    POINT at = cursorNear(c.expected);
    EXPECT_NEAR(at.x, c.expected.x, 1) << c.x << "," << c.y;
    EXPECT_NEAR(at.y, c.expected.y, 1) << c.x << "," << c.y;
  }

  // After a monitor switch the same fraction lands on the new rectangle.
  injector.setDisplay(w, h, desktop.left, desktop.top);
  injector.movePointer(0.5, 0.5);
  POINT expected{desktop.left + w / 2, desktop.top + h / 2};
  POINT at = cursorNear(expected);
  EXPECT_NEAR(at.x, expected.x, 1);
  EXPECT_NEAR(at.y, expected.y, 1);
}

TEST(SendInput, RecordsGoOutFieldForField) {
  std::unique_ptr<InputBackend> backend = makeSystemInputBackend();
  const VirtualDesktop desktop = backend->virtualDesktop();
  const InputRecord corner[] = {MouseInput{65535, 0, 0, mouseflag::absoluteMove}};
  backend->send(corner);
  POINT expected{desktop.left + desktop.width - 1, desktop.top};
  POINT at = cursorNear(expected);
  EXPECT_NEAR(at.x, expected.x, 1);
  EXPECT_NEAR(at.y, expected.y, 1);
}

TEST(ProcessInfo, NamesTheImageWithoutItsFolder) {
  std::u16string name = processImageName(GetCurrentProcessId());
  EXPECT_EQ(name, u"input_tests.exe");
  EXPECT_TRUE(processImageName(0xFFFFFFF0u).empty());
  EXPECT_EQ(integrityLevel(0xFFFFFFF0u), -1);
}
