#include "host/command_line.h"

#include "common/version.h"
#include "diagnostics/modes.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>

namespace dravnok::host {
namespace {

constexpr std::array<std::pair<std::string_view, Mode>, 11> kOptions{{
    {"--selftest", Mode::Selftest},
    {"--probe", Mode::Probe},
    {"--selftest-encode", Mode::SelftestEncode},
    {"--bench", Mode::Bench},
    {"--selftest-elevated-input", Mode::SelftestElevatedInput},
    {"--selftest-cc", Mode::SelftestCc},
    {"--banner-test", Mode::BannerTest},
    {"--clip-selftest", Mode::ClipSelftest},
    {"--clip-readtest", Mode::ClipReadtest},
    {"--clip-echo", Mode::ClipEcho},
    {"--version", Mode::Version},
}};

int usage(const char* line) {
  std::fputs(line, stderr);
  return 2;
}

std::string argOr(const ModeChoice& choice, size_t index, const char* fallback) {
  return index < choice.args.size() ? choice.args[index] : std::string(fallback);
}

} // namespace

ModeChoice chooseMode(std::span<const std::string> args) {
  for (size_t i = 0; i < args.size(); ++i) {
    for (const auto& [name, mode] : kOptions) {
      if (args[i] == name) return {mode, args[i], {args.begin() + i + 1, args.end()}};
    }
  }
  return {};
}

int benchCount(const ModeChoice& choice) {
  int count = choice.args.empty() ? 0 : std::atoi(choice.args.front().c_str());
  return count < 1 ? 12 : count;
}

int runTestMode(const ModeChoice& choice) {
  switch (choice.mode) {
  case Mode::Normal:
    return 0;
  case Mode::Selftest:
    return diagnostics::runCaptureSelfTest(argOr(choice, 0, "selftest.bmp"));
  case Mode::Probe:
    return diagnostics::runDisplayProbe();
  case Mode::SelftestEncode:
    return diagnostics::runEncodeSelfTest();
  case Mode::Bench:
    return diagnostics::runBenchmark(benchCount(choice));
  case Mode::SelftestElevatedInput:
    return diagnostics::runElevatedInputSelfTest();
  case Mode::SelftestCc:
    return diagnostics::runCongestionSelfTest();
  case Mode::BannerTest:
    return diagnostics::runBannerTest(argOr(choice, 0, "banner-test.bmp"));
  case Mode::ClipSelftest:
    if (choice.args.empty()) return usage("usage: --clip-selftest <file.png>\n");
    return diagnostics::runClipboardSelfTest(choice.args[0]);
  case Mode::ClipReadtest:
    if (choice.args.empty()) return usage("usage: --clip-readtest <out.png>\n");
    return diagnostics::runClipboardReadTest(choice.args[0]);
  case Mode::ClipEcho:
    if (choice.args.size() < 2) return usage("usage: --clip-echo <in.png> <out.png>\n");
    return diagnostics::runClipboardEcho(choice.args[0], choice.args[1]);
  case Mode::Version:
    std::printf("remote-helper %s\n", versionText().c_str());
    return 0;
  }
  return 2;
}

} // namespace dravnok::host
