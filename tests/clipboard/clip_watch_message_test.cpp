#include "clipboard/clip_watch_message.h"

#include <gtest/gtest.h>

using namespace dravnok::clipboard;

TEST(ParseClipWatch, ReadsTheSwitchFromRawText) {
  EXPECT_EQ(parseClipWatch(R"({"type":"clipwatch","on":false})"), 0);
  EXPECT_EQ(parseClipWatch(R"({"type":"clipwatch","on":0})"), 0);
  EXPECT_EQ(parseClipWatch(R"({"type":"clipwatch","on": false})"), 0);
  EXPECT_EQ(parseClipWatch("{\"type\":\"clipwatch\",\"on\":\t 0}"), 0);
  EXPECT_EQ(parseClipWatch(R"({"type":"clipwatch"})"), 1);
  EXPECT_EQ(parseClipWatch(R"({"type":"clipwatch","on":true})"), 1);
  EXPECT_EQ(parseClipWatch(R"({"type":"clipwatch","on":1})"), 1);
  EXPECT_EQ(parseClipWatch(R"({"type":"clipwatch","on":"no"})"), 1);
  EXPECT_EQ(parseClipWatch(R"({"on":false,"type":"clipwatch"})"), 0);
  // The text ends right after the colon, or there is no colon at all.
  EXPECT_EQ(parseClipWatch(R"("clipwatch" "on":)"), 1);
  EXPECT_EQ(parseClipWatch(R"("clipwatch" "on")"), 1);
}

TEST(ParseClipWatch, AnyTextHoldingTheQuotedWordIsASwitch) {
  // A clipboard text that is the word itself is taken as a switch, not written.
  EXPECT_EQ(parseClipWatch(R"({"type":"clipboard","text":"clipwatch"})"), 1);
  EXPECT_EQ(parseClipWatch(R"({"type":"clipboard","text":"clipwatch","on":0})"), 0);
  EXPECT_EQ(parseClipWatch(R"({"type":"clipboard","text":"the clipwatch"})"), -1);
  EXPECT_EQ(parseClipWatch(R"({"type":"clipWatch","on":false})"), -1);
  EXPECT_EQ(parseClipWatch(""), -1);
}
