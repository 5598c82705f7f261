#include "diagnostics/case_report.h"

#include <utility>

namespace dravnok::diagnostics {

CaseReport::CaseReport(std::FILE* out, std::string prefix) : out_(out), prefix_(std::move(prefix)) {}

void CaseReport::record(bool pass, std::string_view name, std::string_view detail) {
  if (!pass) ++failures_;
  std::fprintf(out_, "%s: %s  %.*s  %.*s\n", prefix_.c_str(), pass ? "PASS" : "FAIL", static_cast<int>(name.size()),
               name.data(), static_cast<int>(detail.size()), detail.data());
  std::fflush(out_);
}

int CaseReport::finish() {
  std::fprintf(out_, "%s: %s (%d failed)\n", prefix_.c_str(), failures_ == 0 ? "PASS" : "FAIL", failures_);
  std::fflush(out_);
  return failures_ == 0 ? 0 : kFailedExitCode;
}

} // namespace dravnok::diagnostics
