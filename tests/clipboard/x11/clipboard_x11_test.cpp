#include "clipboard/base64.h"
#include "clipboard/clipboard.h"
#include "clipboard/clipboard_sync.h"
#include "clipboard/png_codec.h"

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

namespace {

// Each test on an Xvfb of its own: the clipboard is shared by every client
// of a display, so tests that run side by side must not share one.
class X11Clipboard : public ::testing::Test {
protected:
  void SetUp() override {
    if (std::system("command -v Xvfb >/dev/null && command -v xclip >/dev/null") != 0)
      GTEST_SKIP() << "needs Xvfb and xclip";
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    if ((server_ = fork()) == 0) {
      dup2(open("/dev/null", O_WRONLY), 2);
      execlp("Xvfb", "Xvfb", "-displayfd", std::to_string(fds[1]).c_str(), "-screen", "0", "640x480x24", "-nolisten",
             "tcp", nullptr);
      _exit(127);
    }
    close(fds[1]);
    std::string display = ":";
    pollfd p{fds[0], POLLIN, 0};
    for (char c; poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n';) display += c;
    close(fds[0]);
    ASSERT_GT(display.size(), 1u) << "Xvfb did not start";
    setenv("DISPLAY", display.c_str(), 1);
  }
  void TearDown() override {
    if (server_ > 0) kill(server_, SIGTERM), waitpid(server_, nullptr, 0); // ends any xclip serving it
  }

  // xclip takes the clipboard with `bytes` and serves it in the background.
  static void xclipPut(const std::string& bytes, const std::string& target = "UTF8_STRING") {
    FILE* pipe = popen(("xclip -selection clipboard -t " + target + " -i").c_str(), "w");
    fwrite(bytes.data(), 1, bytes.size(), pipe);
    ASSERT_EQ(pclose(pipe), 0);
  }
  static std::string xclipGet(const std::string& target) {
    FILE* pipe = popen(("xclip -selection clipboard -t " + target + " -o 2>/dev/null").c_str(), "r");
    std::string out;
    char buffer[65536];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
    return out;
  }
  template <typename Condition> static bool eventually(Condition condition) {
    for (auto end = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < end;) {
      if (condition()) return true;
      std::this_thread::sleep_for(20ms);
    }
    return condition();
  }

  pid_t server_ = -1;
};

// Noise with varying alpha, so that any mix-up of rows, channels or alpha shows.
BgraImage noise(int32_t width, int32_t height) {
  BgraImage image{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4)};
  uint32_t state = 12345;
  for (auto& byte : image.pixels) byte = static_cast<uint8_t>((state = state * 1103515245 + 12345) >> 16);
  return image;
}

} // namespace

TEST_F(X11Clipboard, OurImageAndTextArePastedByOtherClientsAndReplaceEachOther) {
  // Large enough to travel in increments.
  const BgraImage image = noise(700, 500);
  const std::string png = encodePng(image.width, image.height, image.pixels);
  ASSERT_GT(png.size(), 1000000u);
  ClipboardState state(false);
  ASSERT_TRUE(writeClipboardPng(state, png));
  EXPECT_EQ(xclipGet("TARGETS").find("UTF8_STRING"), std::string::npos);
  for (const std::string& pasted : {xclipGet("image/png"), readClipboardImagePng()}) {
    auto decoded = decodePng(pasted);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width, 700);
    EXPECT_TRUE(decoded->pixels == image.pixels);
  }
  EXPECT_EQ(readClipboardText(), "");

  const std::string text = "caf\xC3\xA9 \xF0\x9F\x98\x80 \xF0\x9D\x84\x9E end";
  writeClipboardText(state, text);
  EXPECT_EQ(xclipGet("UTF8_STRING"), text);
  EXPECT_EQ(readClipboardText(), text);
  EXPECT_EQ(readClipboardImagePng(), "");
  EXPECT_FALSE(writeClipboardPng(state, "not a png at all"));
  EXPECT_EQ(readClipboardText(), text);

  // An empty text is still placed.
  writeClipboardText(state, "");
  EXPECT_TRUE(eventually([] { return readClipboardText().empty(); }));
  EXPECT_NE(xclipGet("TARGETS").find("UTF8_STRING"), std::string::npos);

  // A view-only session writes nothing.
  ClipboardState viewOnly(true);
  writeClipboardText(viewOnly, "ours");
  EXPECT_FALSE(writeClipboardPng(viewOnly, png));
  acceptImageChunk(viewOnly, 0, 1, base64Encode(png));
  EXPECT_EQ(readClipboardText(), "");
  EXPECT_EQ(viewOnly.ownClipboardSequence.load(), 0u);
}

TEST_F(X11Clipboard, ImagesOfOtherClientsAreReadAsPngOrBitmap) {
  const BgraImage image = noise(600, 400);
  xclipPut(encodePng(image.width, image.height, image.pixels), "image/png");
  std::optional<BgraImage> decoded;
  EXPECT_TRUE(eventually([&] { return bool(decoded = decodePng(readClipboardImagePng())); }));
  EXPECT_TRUE(decoded && decoded->pixels == image.pixels);

  // A 24-bit BMP file, bottom-up, width 3 (row padding).
  std::string dib(40 + 2 * 12, '\0');
  dib[0] = 40, dib[4] = 3, dib[8] = 2, dib[12] = 1, dib[14] = 24;
  for (int i = 0; i < 9; ++i) dib[40 + i] = char(10 + i), dib[52 + i] = char(20 + i);
  xclipPut("BM" + std::string(12, '\0') + dib, "image/bmp");
  // xclip serves from the background: wait until it has taken over.
  EXPECT_TRUE(eventually([&] { return (decoded = decodePng(readClipboardImagePng())) && decoded->width == 3; }));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->height, 2);
  EXPECT_EQ(std::vector<uint8_t>(decoded->pixels.begin(), decoded->pixels.begin() + 4),
            (std::vector<uint8_t>{20, 21, 22, 255}));

  // A bitmap that claims more rows than it holds is no image.
  dib[8] = char(200);
  xclipPut("BM" + std::string(12, '\0') + dib, "image/bmp");
  EXPECT_TRUE(eventually([] { return readClipboardImagePng().empty(); }));
  EXPECT_NE(xclipGet("TARGETS").find("image/bmp"), std::string::npos);
}

TEST_F(X11Clipboard, TransfersLongerThanTheReaderTakesAreGivenUp) {
  // One property, then in increments (xclip's pieces are about 1 MB).
  for (const std::string& text : {std::string("four"), std::string(1500000, 't')}) {
    xclipPut(text);
    std::optional<std::string> whole;
    EXPECT_TRUE(eventually([&] { return (whole = SelectionReader().read("UTF8_STRING")) && *whole == text; }));
    EXPECT_FALSE(SelectionReader(text.size() - 1).read("UTF8_STRING"));
  }
}
