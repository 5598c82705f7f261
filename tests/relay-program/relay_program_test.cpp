// The relay's command line and the lines it reads from the host's pipe.
#include "input/recording_backend.h"
#include "relay-program/relay_arguments.h"
#include "relay-program/relay_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace dravnok::relay_program {
namespace {

using namespace testing_support;

TEST(RelayArguments, EachOptionTakesTheNextArgumentAndTheLastValueWins) {
  const std::u16string prefix = u"\\\\.\\pipe\\dravnok-input-", pipe = prefix + u"12-00ff",
                       upper = u"\\\\.\\PIPE\\dravnok-input-12";
  // The arguments, then the pipe, the helper and the agent read, and whether they are usable.
  const std::tuple<std::vector<std::u16string>, std::u16string, uint32_t, uint32_t, bool> cases[] = {
      {{u"r", u"x", u"--helper", u"12", u"--pipe", u"x", u"--agent", u"9", u"--pipe", pipe}, pipe, 12, 9, true},
      {{u"r", u"--helper", u"12", u"--HELPER", u"9", u"--pipe"}, u"", 12, 0, false}, // nothing after: ignored
      {{u"r", u"--pipe", u"--helper", u"5"}, u"--helper", 0, 0, false},
      {{u"r", u"--pipe", pipe, u"--helper", u" 42x"}, pipe, 42, 0, true},
      {{u"r", u"--pipe", pipe, u"--helper", u"abc", u"--agent", u"-7"}, pipe, 0, uint32_t(-7), false},
      {{u"r", u"--pipe", pipe, u"--helper", u"99999999999"}, pipe, 2147483647, 0, true},
      {{u"r", u"--pipe", upper, u"--helper", u"3"}, upper, 3, 0, false},
      {{u"r", u"--pipe", prefix, u"--helper", u"3"}, prefix, 3, 0, true},
  };
  for (const auto& [argv, pipeRead, helper, agent, usable] : cases) {
    const RelayArguments args = parseRelayArguments(argv);
    EXPECT_EQ(std::tie(args.pipe, args.helperPid, args.agentPid), std::tie(pipeRead, helper, agent)) << argv.size();
    EXPECT_EQ(argumentsUsable(args), usable) << helper;
  }
}

TEST(LineAccumulator, SplitsAtLineFeedsAcrossReadsAndDropsAnOverlongUnfinishedLine) {
  LineAccumulator accumulator;
  std::vector<std::string> lines;
  const auto feed = [&](std::string_view bytes) {
    accumulator.append(bytes, [&](std::string_view line) { lines.emplace_back(line); });
  };
  feed("{\"a\":1}\n{\"b\":2}\n{\"c\"");
  feed(":3");
  EXPECT_EQ(lines.size(), 2u) << "no line before its line feed";
  const std::string longLine(kMaxPendingLine + 10, 'y'); // kept: it came whole
  feed("}\n\n\n" + longLine + "\n");
  const std::string piece(kReadSize, 'x');
  for (size_t total = 0; total <= kMaxPendingLine; total += piece.size()) feed(piece);
  EXPECT_EQ(accumulator.pendingBytes(), 0u);
  // The rest of the dropped line would parse on its own; it is not a message.
  feed("{\"type\":\"key\",\"key\":\"Enter\"}\n{\"e\":5}\n");
  EXPECT_EQ(lines, (std::vector<std::string>{"{\"a\":1}", "{\"b\":2}", "{\"c\":3}", longLine, "{\"e\":5}"}));
}

TEST(HandleRelayLine, TheDisplayLineSetsTheGeometryAndOnlyInputEventsAreInjected) {
  testing_support::Rig rig(false, {1, 1, 0, 0});
  const auto display = [&] {
    const MonitorRect r = rig.injector.display();
    return std::vector<int32_t>{r.width, r.height, r.left, r.top};
  };
  handleRelayLine(rig.injector, R"({"type":"_display","w":2560,"h":1440,"l":-1920,"t":-200})");
  EXPECT_EQ(display(), (std::vector<int32_t>{2560, 1440, -1920, -200}));
  handleRelayLine(rig.injector, R"({"type":"_display","l":5,"t":"x"})"); // a member of the wrong type is missing
  EXPECT_EQ(display(), (std::vector<int32_t>{1, 1, 5, 0}));

  const std::string deep = R"({"type":"move","n":)" + std::string(100000, '[') + std::string(100000, ']') + "}";
  for (const std::string line : {R"({"type":"clipboard","on":true})", R"({"type":"sas"})", R"({"type":"clipget"})",
                                 R"({"type":"monitor","index":1})", R"({"type":"move","x":0.5)", deep.c_str()}) {
    handleRelayLine(rig.injector, line);
  }
  handleRelayLine(rig.injector, R"({"type":"_display","w":1920,"h":1080,"l":0,"t":0})");
  handleRelayLine(rig.injector, R"({"type":"move","x":0.5,"y":0.5})");
  handleRelayLine(rig.injector, R"({"type":"keydown","code":"KeyA"})");
  EXPECT_EQ(rig.state->records(), (std::vector<InputRecord>{moveTo(32768, 32768), key('A')}));
}

} // namespace
} // namespace dravnok::relay_program
