// Text and images both ways, large ones in increments, are the browser
// session story's; bitmaps of other clients the clipboard modes test's.
// Here what a client that offers too much gets, on an Xvfb of its own: the
// clipboard is shared by every client of a display.
#include <gtest/gtest.h>

// After GoogleTest: X11's macros (None, Bool) would break its headers.
#include "clipboard/x11/selection_reader.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace dravnok::clipboard;
using namespace std::chrono_literals;

TEST(X11Clipboard, TransfersLongerThanTheReaderTakesAreGivenUp) {
  if (std::system("command -v Xvfb >/dev/null && command -v xclip >/dev/null") != 0)
    GTEST_SKIP() << "needs Xvfb and xclip";
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t server = fork();
  if (server == 0) {
    dup2(open("/dev/null", O_WRONLY), 2);
    execlp("Xvfb", "Xvfb", "-displayfd", std::to_string(fds[1]).c_str(), "-nolisten", "tcp", nullptr);
    _exit(127);
  }
  struct Stop {
    pid_t server;
    ~Stop() { kill(server, SIGTERM), waitpid(server, nullptr, 0); } // also ends the xclip serving it
  } stop{server};
  close(fds[1]);
  std::string display = ":";
  pollfd p{fds[0], POLLIN, 0};
  for (char c; poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n';) display += c;
  ASSERT_GT(display.size(), 1u) << "Xvfb did not start";
  setenv("DISPLAY", display.c_str(), 1);

  // One property, then in increments (xclip's pieces are about 1 MB).
  for (const std::string& text : {std::string("four"), std::string(1500000, 't')}) {
    FILE* xclip = popen("xclip -selection clipboard -t UTF8_STRING -i", "w"); // serves it in the background
    fwrite(text.data(), 1, text.size(), xclip);
    ASSERT_EQ(pclose(xclip), 0);
    std::optional<std::string> whole;
    for (int i = 0; i < 250 && (whole = SelectionReader().read("UTF8_STRING")) != text; ++i)
      std::this_thread::sleep_for(20ms);
    EXPECT_EQ(whole, text);
    EXPECT_FALSE(SelectionReader(text.size() - 1).read("UTF8_STRING"));
  }
}
