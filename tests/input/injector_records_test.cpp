#include "input/input_injector.h"
#include "recording_backend.h"

#include <gtest/gtest.h>

using namespace dravnok;
using namespace dravnok::testing_support;
using Records = std::vector<InputRecord>;

namespace {

// The shared monitor is the right one of two side by side.
struct RightMonitorRig : Rig {
  RightMonitorRig() : Rig(false, {1920, 1080, 1920, 0}) { state->desktop = {0, 0, 3840, 1080}; }
};

} // namespace

TEST(InjectorRecords, MovesAreNormalisedAgainstTheWholeVirtualDesktop) {
  RightMonitorRig rig;
  rig.injector.movePointer(0.5, 0.5);
  rig.injector.movePointer(0, 0);
  rig.injector.movePointer(1, 1);
  ASSERT_EQ(rig.state->calls.size(), 3u);
  EXPECT_EQ(rig.state->calls[0].records, Records{moveTo(49151, 32768)});
  EXPECT_EQ(rig.state->calls[1].records, Records{moveTo(32768, 0)});
  EXPECT_EQ(rig.state->calls[2].records, Records{moveTo(65535, 65535)});
}

TEST(InjectorRecords, PositionsAreClampedToTheMonitorAndTheDesktop) {
  RightMonitorRig rig;
  rig.injector.movePointer(-0.2, 1.7);
  EXPECT_EQ(rig.state->records(), Records{moveTo(32768, 65535)});

  // A monitor rectangle reaching beyond the desktop pins to its edges.
  rig.state->calls.clear();
  rig.injector.setDisplay(1920, 1080, -4000, 2000);
  rig.injector.movePointer(0, 0);
  EXPECT_EQ(rig.state->records(), Records{moveTo(0, 65535)});

  // A desktop to the left of and above the origin.
  rig.state->calls.clear();
  rig.state->desktop = {-1920, -200, 3840, 1280};
  rig.injector.setDisplay(1920, 1080, -1920, -200);
  rig.injector.movePointer(1, 1);
  EXPECT_EQ(rig.state->records(), Records{moveTo(32768, 55295)});
}

TEST(InjectorRecords, DegenerateRectanglesBecomeOnePixel) {
  Rig rig(false, {0, -5, 10, 20});
  EXPECT_EQ(rig.injector.display().width, 1);
  EXPECT_EQ(rig.injector.display().height, 1);
  rig.injector.setDisplay(0, 7, -1920, 0);
  MonitorRect rect = rig.injector.display();
  EXPECT_EQ(rect.width, 1);
  EXPECT_EQ(rect.height, 7);
  EXPECT_EQ(rect.left, -1920);

  // A desktop that reports no size at all must not divide by zero.
  rig.state->desktop = {0, 0, 0, 0};
  rig.injector.movePointer(0.5, 0.5);
  EXPECT_EQ(rig.state->records(), Records{moveTo(0, 65535)});
}

TEST(InjectorRecords, ButtonsMoveFirstThenPressInASeparateCall) {
  Rig rig;
  rig.injector.mouseButton(0, 0, 0, true);
  rig.injector.mouseButton(0, 0, 1, true);
  rig.injector.mouseButton(0, 0, 2, false);
  rig.injector.mouseButton(0, 0, 7, true);
  rig.injector.mouseButton(0, 0, -1, false);
  const uint32_t expected[] = {mouseflag::leftDown, mouseflag::middleDown, mouseflag::rightUp, mouseflag::leftDown,
                               mouseflag::leftUp};
  ASSERT_EQ(rig.state->calls.size(), 10u);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(rig.state->calls[2 * i].records, Records{moveTo(0, 0)});
    EXPECT_EQ(rig.state->calls[2 * i + 1].records, Records{mouseFlags(expected[i])}) << i;
  }
}

TEST(InjectorRecords, WheelValuesAreNotchesOfOneHundredWithVerticalInverted) {
  Rig rig;
  rig.injector.scroll(0, 0, 0, 100);
  rig.injector.scroll(0, 0, -50, 0);
  rig.injector.scroll(0, 0, 33.9, -1.5);
  EXPECT_EQ(rig.state->records(),
            (Records{moveTo(0, 0), MouseInput{0, 0, -120, mouseflag::wheel}, moveTo(0, 0),
                     MouseInput{0, 0, -60, mouseflag::hwheel}, moveTo(0, 0), MouseInput{0, 0, 1, mouseflag::wheel},
                     MouseInput{0, 0, 40, mouseflag::hwheel}}));

  rig.state->calls.clear();
  rig.injector.scroll(0.5, 0.5, 0, 0);
  EXPECT_EQ(rig.state->calls.size(), 1u) << "no wheel, just the move";

  // Absurd deltas saturate instead of overflowing.
  rig.state->calls.clear();
  rig.injector.scroll(0, 0, 1e300, -1e300);
  EXPECT_EQ(rig.state->records(), (Records{moveTo(0, 0), MouseInput{0, 0, INT32_MAX, mouseflag::wheel},
                                           MouseInput{0, 0, INT32_MAX, mouseflag::hwheel}}));
}

TEST(InjectorRecords, TapIsMoveDownUpInThreeCalls) {
  Rig rig;
  rig.injector.tap(1, 0);
  ASSERT_EQ(rig.state->calls.size(), 3u);
  EXPECT_EQ(rig.state->calls[0].records, Records{moveTo(65535, 0)});
  EXPECT_EQ(rig.state->calls[1].records, Records{mouseFlags(mouseflag::leftDown)});
  EXPECT_EQ(rig.state->calls[2].records, Records{mouseFlags(mouseflag::leftUp)});
}

namespace {

struct SwipeShape {
  int steps = 0;
  std::vector<int> pauses;
  Records moves;
};

SwipeShape shapeOf(const Recorded& state) {
  SwipeShape shape;
  const auto& calls = state.calls;
  // move, down, steps × (move[, pause]), final move, up
  EXPECT_GE(calls.size(), 5u);
  EXPECT_EQ(calls[1].records, Records{mouseFlags(mouseflag::leftDown)});
  EXPECT_EQ(calls.back().records, Records{mouseFlags(mouseflag::leftUp)});
  for (size_t i = 2; i + 1 < calls.size(); ++i) {
    if (calls[i].kind == Call::Pause) {
      shape.pauses.push_back(calls[i].ms);
    } else {
      shape.moves.push_back(calls[i].records.at(0));
    }
  }
  shape.steps = int(shape.moves.size()) - 1;
  return shape;
}

} // namespace

TEST(InjectorRecords, SwipeStepsAndPausesFollowTheDuration) {
  {
    Rig rig;
    rig.injector.swipe(0, 0, 1, 1, 200);
    SwipeShape shape = shapeOf(*rig.state);
    EXPECT_EQ(shape.steps, 20);
    EXPECT_EQ(shape.pauses, std::vector<int>(20, 10));
    EXPECT_EQ(shape.moves[9], InputRecord{moveTo(32768, 32768)}); // halfway after step 10
    EXPECT_EQ(shape.moves[19], InputRecord{moveTo(65535, 65535)});
    EXPECT_EQ(shape.moves[20], InputRecord{moveTo(65535, 65535)});
  }
  {
    Rig rig;
    rig.injector.swipe(0, 0, 1, 0, 0);
    SwipeShape shape = shapeOf(*rig.state);
    EXPECT_EQ(shape.steps, 1);
    EXPECT_TRUE(shape.pauses.empty());
  }
  {
    Rig rig;
    rig.injector.swipe(0, 0, 1, 0, 20000);
    SwipeShape shape = shapeOf(*rig.state);
    EXPECT_EQ(shape.steps, 200);
    EXPECT_EQ(shape.pauses, std::vector<int>(200, 25));
  }
  {
    Rig rig;
    rig.injector.swipe(0, 0, 1, 0, -300);
    EXPECT_EQ(shapeOf(*rig.state).steps, 1);
  }
  {
    Rig rig;
    rig.injector.swipe(0, 0, 1, 0, 15); // 15 ms in one step, not 10
    SwipeShape shape = shapeOf(*rig.state);
    EXPECT_EQ(shape.steps, 1);
    EXPECT_EQ(shape.pauses, std::vector<int>{15});
  }
}

TEST(InjectorRecords, TypedTextIsUtf16UnitsDownAndUpInOneCall) {
  Rig rig;
  rig.injector.typeText("a\xC3\xA9\xF0\x9D\x84\x9E"); // a é 𝄞
  ASSERT_EQ(rig.state->calls.size(), 1u);
  const uint32_t down = keyflag::unicode, up = keyflag::unicode | keyflag::keyUp;
  EXPECT_EQ(rig.state->calls[0].records,
            (Records{KeyboardInput{0, 'a', down}, KeyboardInput{0, 'a', up}, KeyboardInput{0, 0xE9, down},
                     KeyboardInput{0, 0xE9, up}, KeyboardInput{0, 0xD834, down}, KeyboardInput{0, 0xD834, up},
                     KeyboardInput{0, 0xDD1E, down}, KeyboardInput{0, 0xDD1E, up}}));

  rig.state->calls.clear();
  rig.injector.typeText("");
  EXPECT_TRUE(rig.state->calls.empty());

  // A bounded number of units per message; beyond it nothing is typed.
  const size_t limit = InputInjector::kMaxTypedUnits;
  rig.injector.typeText(std::string(limit + 1, 'x'));
  rig.injector.typeText(std::string(3 * limit + 1, '\xFF')); // each byte one replacement unit
  EXPECT_TRUE(rig.state->calls.empty());
  rig.injector.typeText(std::string(limit, 'x'));
  ASSERT_EQ(rig.state->calls.size(), 1u);
  EXPECT_EQ(rig.state->calls[0].records.size(), 2 * limit);
}

TEST(InjectorRecords, KeysCarryTheirVirtualKeyAndExtendedFlag) {
  Rig rig;
  rig.injector.keyByCode("ControlRight", true);
  rig.injector.keyByCode("ControlRight", false);
  rig.injector.keyByCode("KeyQ", false);
  rig.injector.keyByCode("NoSuchKey", true);
  rig.injector.keyByCode("", true);
  EXPECT_EQ(rig.state->records(),
            (Records{key(0xA3, keyflag::extendedKey), key(0xA3, keyflag::extendedKey | keyflag::keyUp),
                     key('Q', keyflag::keyUp)}));

  rig.state->calls.clear();
  rig.injector.pressKeyName("ArrowUp");
  rig.injector.pressKeyName("a");
  ASSERT_EQ(rig.state->calls.size(), 1u);
  EXPECT_EQ(rig.state->calls[0].records,
            (Records{key(0x26, keyflag::extendedKey), key(0x26, keyflag::extendedKey | keyflag::keyUp)}));

  rig.state->calls.clear();
  rig.injector.pasteShortcut();
  ASSERT_EQ(rig.state->calls.size(), 1u);
  EXPECT_EQ(rig.state->calls[0].records,
            (Records{key(0x11), key('V'), key('V', keyflag::keyUp), key(0x11, keyflag::keyUp)}));
}

namespace {

void everyOperation(InputInjector& injector) {
  injector.movePointer(0.5, 0.5);
  injector.mouseButton(0.5, 0.5, 0, true);
  injector.scroll(0.5, 0.5, 100, 100);
  injector.tap(0.5, 0.5);
  injector.swipe(0, 0, 1, 1, 50);
  injector.typeText("x");
  injector.pressKeyName("Enter");
  injector.keyByCode("KeyA", true);
  injector.pasteShortcut();
}

} // namespace

TEST(InjectorRecords, ViewOnlyInjectorDoesNothingAtAll) {
  Rig rig(true);
  everyOperation(rig.injector);
  rig.injector.sendSecureAttention();
  EXPECT_TRUE(rig.state->calls.empty());
}

TEST(InjectorRecords, ProtectedWindowsInFrontStopPointerAndKeysButNotSecureAttention) {
  const uint32_t agent = 77, helper = 88;
  for (uint32_t front : {4242u /* own */, agent, helper}) {
    Rig rig(false, {1920, 1080, 0, 0}, agent);
    rig.injector.setHelperPid(helper);
    rig.state->foregroundPid = front;
    everyOperation(rig.injector);
    EXPECT_TRUE(rig.state->calls.empty()) << front;
    rig.injector.sendSecureAttention();
    ASSERT_EQ(rig.state->calls.size(), 1u);
    EXPECT_EQ(rig.state->calls[0].kind, Call::SecureAttention);
  }

  // Without an agent (0) only the real foreground process counts.
  Rig rig;
  rig.state->foregroundPid = 0;
  EXPECT_FALSE(rig.injector.foregroundProtected());
  rig.state->foregroundPid = 99;
  EXPECT_FALSE(rig.injector.foregroundProtected());
  rig.injector.tap(0, 0);
  EXPECT_EQ(rig.state->calls.size(), 3u);
}
