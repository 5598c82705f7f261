// What the elevation warning reads about a process on Windows (Wine in our
// test runs). SendInput itself is driven by the Wine session story.
#include "input/process_info.h"

#include <windows.h>

#include <gtest/gtest.h>

using namespace dravnok;

TEST(ProcessInfo, NamesTheImageWithoutItsFolder) {
  EXPECT_EQ(processImageName(GetCurrentProcessId()), u"input_tests.exe");
  EXPECT_TRUE(processImageName(0xFFFFFFF0u).empty());
  EXPECT_EQ(integrityLevel(0xFFFFFFF0u), -1);
}
