#pragma once
// Which mode a command line asks for: the agent-driven session or one of
// the test options.
#include <span>
#include <string>
#include <vector>

namespace dravnok::host {

enum class Mode {
  Normal,
  Selftest,
  Probe,
  SelftestEncode,
  Bench,
  SelftestElevatedInput,
  SelftestCc,
  BannerTest,
  ClipSelftest,
  ClipReadtest,
  ClipEcho,
  Version,
};

struct ModeChoice {
  Mode mode = Mode::Normal;
  std::string option;            // the option as written, empty in normal mode
  std::vector<std::string> args; // the arguments that follow it
};

// The first argument that equals an option decides; the others are skipped.
ModeChoice chooseMode(std::span<const std::string> args);

// "--bench"'s count: like atoi, and 12 when missing or below 1.
int benchCount(const ModeChoice& choice);

// Runs a test mode (or prints the version) and returns its exit code (2 for
// a missing argument, after the usage line on standard error).
int runTestMode(const ModeChoice& choice);

} // namespace dravnok::host
