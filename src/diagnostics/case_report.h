#pragma once
// The verdict lines of a self-test that runs a fixed list of cases: one line
// per case, a closing line, and the exit code (0 when all passed, 10 when
// any failed).
#include <cstdio>
#include <string>
#include <string_view>

namespace dravnok::diagnostics {

class CaseReport {
public:
  static constexpr int kFailedExitCode = 10;

  // `prefix` starts every line, e.g. "selftest-cc".
  CaseReport(std::FILE* out, std::string prefix);

  void record(bool pass, std::string_view name, std::string_view detail = {});
  // Writes the closing line and returns the exit code.
  int finish();
  int failures() const { return failures_; }

private:
  std::FILE* out_;
  std::string prefix_;
  int failures_ = 0;
};

} // namespace dravnok::diagnostics
