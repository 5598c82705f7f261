#include "diagnostics/case_report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace dravnok::diagnostics {
namespace {

std::string contents(std::FILE* file) {
  std::rewind(file);
  std::string text;
  char buffer[256];
  while (size_t n = std::fread(buffer, 1, sizeof buffer, file)) text.append(buffer, n);
  return text;
}

TEST(CaseReport, OneFailureFailsTheRunWithExitCodeTen) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  CaseReport report(out, "selftest-cc");
  report.record(true, "first", "1/1");
  report.record(false, "second", "took 900 ms");
  report.record(true, "third");
  EXPECT_EQ(report.finish(), 10);
  EXPECT_EQ(contents(out), "selftest-cc: PASS  first  1/1\n"
                           "selftest-cc: FAIL  second  took 900 ms\n"
                           "selftest-cc: PASS  third  \n"
                           "selftest-cc: FAIL (1 failed)\n");
  std::fclose(out);
}

} // namespace
} // namespace dravnok::diagnostics
