#include "diagnostics/elevated_input_report.h"

#include <gtest/gtest.h>

namespace dravnok::diagnostics {
namespace {

TEST(ElevatedInputReport, OneJsonLineThatTheRelayLogCannotBreakAndANudgeInsideTheScreen) {
  ElevatedInputReport r;
  r.why = "this Windows user is not an administrator (or UAC is off)";
  r.fg = "explorer.exe";
  r.cursorX = -5;
  r.cursorY = 700;
  r.localMoved = true;
  r.relayLog = "[warn] a \"quoted\" C:\\path\ttab | ";
  EXPECT_EQ(elevatedInputLine(r),
            "{\"silentElevation\":false,\"why\":\"this Windows user is not an administrator (or UAC is off)\","
            "\"fgElevated\":false,\"fg\":\"explorer.exe\",\"cursor\":[-5,700],\"localMoved\":true,"
            "\"relayReady\":false,\"relayMoved\":false,\"relayLog\":\"[warn] a 'quoted' C:'path'tab | \"}\n");
  // The nudge goes left near the right edge.
  EXPECT_EQ(nudgeTarget(100, 0, 1920), 140);
  EXPECT_EQ(nudgeTarget(1859, 0, 1920), 1899);
  EXPECT_EQ(nudgeTarget(1860, 0, 1920), 1820);
  EXPECT_EQ(nudgeTarget(-50, -1920, 1920), -90) << "on a monitor left of the primary";
  EXPECT_EQ(moveMessageFor(960, 0, 0, 0, 1920, 1080), R"({"type":"move","x":0.500260,"y":0.000463})");
}

} // namespace
} // namespace dravnok::diagnostics
