#include "relay-program/relay_lines.h"

#include "input/recording_backend.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dravnok::relay_program {
namespace {

using testing_support::Rig;

struct Collector {
  LineAccumulator accumulator;
  std::vector<std::string> lines;
  void feed(std::string_view bytes) {
    accumulator.append(bytes, [this](std::string_view line) { lines.emplace_back(line); });
  }
};

TEST(LineAccumulator, SplitsAtLineFeedsAcrossReadsAndDropsAnOverlongUnfinishedLine) {
  Collector c;
  c.feed("{\"a\":1}\n{\"b\":2}\n{\"c\"");
  EXPECT_EQ(c.lines, (std::vector<std::string>{"{\"a\":1}", "{\"b\":2}"}));
  c.feed(":3");
  EXPECT_EQ(c.lines.size(), 2u) << "no line before its line feed";
  c.feed("}\n\n\n" + std::string(kMaxPendingLine + 10, 'y') + "\n");
  EXPECT_EQ(c.lines.size(), 4u);
  EXPECT_EQ(c.lines[2], "{\"c\":3}");
  EXPECT_EQ(c.lines[3].size(), kMaxPendingLine + 10) << "a long complete line is kept";
  EXPECT_EQ(c.accumulator.pendingBytes(), 0u);

  const std::string piece(kReadSize, 'x');
  for (size_t total = 0; total <= kMaxPendingLine; total += piece.size()) c.feed(piece);
  EXPECT_EQ(c.accumulator.pendingBytes(), 0u);
  // The rest of the dropped line would parse on its own; it is not a message.
  c.feed("{\"type\":\"key\",\"key\":\"Enter\"}\n{\"e\":5}\n");
  EXPECT_EQ(c.lines.size(), 5u);
  EXPECT_EQ(c.lines.back(), "{\"e\":5}");
}

TEST(HandleRelayLine, DisplayMessageSetsTheGeometry) {
  Rig rig;
  const auto display = [&] {
    const MonitorRect r = rig.injector.display();
    return std::vector<int32_t>{r.width, r.height, r.left, r.top};
  };
  handleRelayLine(rig.injector, R"({"type":"_display","w":0,"h":-5,"l":-1920,"t":0})");
  EXPECT_EQ(display(), (std::vector<int32_t>{1, 1, -1920, 0}));
  handleRelayLine(rig.injector, R"({"type":"_display","w":2560,"h":1440,"l":1920,"t":-200})");
  handleRelayLine(rig.injector, R"({"type":"_display","l":5,"t":"x"})"); // a member of the wrong type is missing
  EXPECT_EQ(display(), (std::vector<int32_t>{1, 1, 5, 0}));
}

TEST(HandleRelayLine, InjectsInputEventsOnlyAndIgnoresTheRest) {
  Rig rig(false, {1, 1, 0, 0});
  const std::string deep = R"({"type":"move","n":)" + std::string(100000, '[') + std::string(100000, ']') + "}";
  for (const std::string line :
       {R"({"type":"clipboard","on":true})", R"({"type":"sas"})", R"({"type":"clipget"})",
        R"({"type":"monitor","index":1})", "not json", "[1,2]", R"({"type":"move","x":0.5)", deep.c_str()}) {
    handleRelayLine(rig.injector, line);
  }
  EXPECT_TRUE(rig.state->calls.empty());

  handleRelayLine(rig.injector, R"({"type":"_display","w":1920,"h":1080,"l":0,"t":0})");
  handleRelayLine(rig.injector, R"({"type":"move","x":0.5,"y":0.5})");
  handleRelayLine(rig.injector, R"({"type":"keydown","code":"KeyA"})");
  const auto records = rig.state->records();
  ASSERT_EQ(records.size(), 2u);
  Rig reference(false, {1920, 1080, 0, 0});
  reference.injector.movePointer(0.5, 0.5);
  EXPECT_EQ(records[0], reference.state->records().at(0)) << "mapped onto the display line's rectangle";
}

} // namespace
} // namespace dravnok::relay_program
