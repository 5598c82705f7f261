#include "session/elevated_relay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace dravnok;

// View-only asks nothing; a refusal is logged with its reason; a silent
// elevation gives a relay, which forwards nothing until it is connected.
TEST(ElevatedRelay, OnlyAControlSessionThatMayElevateSilentlyGetsARelay) {
  std::vector<std::string> logs;
  int checks = 0;
  SessionLogFn log = [&](const std::string& level, const std::string& message) {
    logs.push_back(level + " " + message);
  };
  auto answer = [&](bool allowed) {
    return [&checks, allowed](std::string& reason) {
      ++checks;
      reason = "a prompt would show (policy 5)";
      return allowed;
    };
  };
  const RelayDisplay display{1920, 1080, -1920, 0};
  EXPECT_EQ(startElevatedRelay(true, 77, display, log, answer(true)), nullptr);
  EXPECT_EQ(startElevatedRelay(false, 77, display, log, answer(false)), nullptr);
  // This machine's own check: Linux has no relay, and under Wine the token
  // is a full administrator's.
  EXPECT_EQ(startElevatedRelay(false, 77, display, log), nullptr);
  auto relay = startElevatedRelay(false, 77, display, log, answer(true));
  ASSERT_NE(relay, nullptr);
  EXPECT_FALSE(relay->forward(R"({"type":"move","x":0.5,"y":0.5})"));
  relay.reset(); // joins the launch thread, so its lines are all in
  EXPECT_EQ(checks, 2);
  ASSERT_GE(logs.size(), 2u);
  EXPECT_EQ(logs[0], "info input: no elevated relay (a prompt would show (policy 5))");
  EXPECT_EQ(logs[1].rfind("info input: no elevated relay (", 0), 0u) << logs[1];
  EXPECT_EQ(std::count_if(logs.begin(), logs.end(), [](auto& l) { return l.find("no elevated relay (") != l.npos; }),
            2);
}
