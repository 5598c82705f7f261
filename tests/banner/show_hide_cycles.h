#pragma once
// One check for the real window of either platform.
#include "banner/session_banner.h"

#include <gtest/gtest.h>

#include <string>

// Hide right after show ends the window thread, and only a show after a hide
// changes the text.
inline void expectShowHideCyclesEachEndTheThread() {
  dravnok::SessionBanner banner;
  for (int i = 0; i < 20; ++i) {
    const std::u16string text = i % 2 ? u"odd" : u"even";
    banner.show(text);
    banner.show(u"already shown: ignored");
    EXPECT_EQ(banner.text(), text);
    banner.hide(); // returns once the thread has been joined
    EXPECT_FALSE(banner.running());
  }
}
