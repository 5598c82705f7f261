#include "diagnostics/case_report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace dravnok::diagnostics {
namespace {

TEST(CaseReport, OneFailureFailsTheRunWithExitCodeTen) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  CaseReport report(out, "selftest-cc");
  report.record(true, "first", "1/1");
  report.record(false, "second", "took 900 ms");
  report.record(true, "third");
  EXPECT_EQ(report.finish(), 10);
  std::rewind(out);
  std::string text(4096, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), out));
  std::fclose(out);
  EXPECT_EQ(text, "selftest-cc: PASS  first  1/1\n"
                  "selftest-cc: FAIL  second  took 900 ms\n"
                  "selftest-cc: PASS  third  \n"
                  "selftest-cc: FAIL (1 failed)\n");
}

} // namespace
} // namespace dravnok::diagnostics
