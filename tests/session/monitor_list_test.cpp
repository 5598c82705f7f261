#include "session/monitor_list.h"

#include <gtest/gtest.h>

using namespace dravnok;

TEST(MonitorList, ExactTextInTheViewersMemberOrderWithoutPositions) {
  std::vector<capture::MonitorInfo> monitors{{0, 0, 2560, 1440, true}, {-1920, 0, 1920, 1080, false}};
  EXPECT_EQ(buildMonitorListMessage(monitors, 1),
            R"({"type":"monitors","clip":true,"clipwatch":true,"active":1,"count":2,"list":[)"
            R"({"i":0,"w":2560,"h":1440,"primary":true},{"i":1,"w":1920,"h":1080,"primary":false}]})");
}
