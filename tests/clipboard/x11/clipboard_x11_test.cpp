#include "clipboard/base64.h"
#include "clipboard/clipboard.h"
#include "clipboard/clipboard_sync.h"
#include "clipboard/png_codec.h"
#include "clipboard/x11/private_x_server.h"

#include <gtest/gtest.h>

// After GoogleTest: X11's macros (None, Bool) would break its headers.
#include "clipboard/x11/selection_reader.h"

#include <chrono>
#include <fstream>
#include <thread>

using namespace dravnok::clipboard;
using namespace std::chrono_literals;

namespace {

class X11Clipboard : public ::testing::Test {
protected:
  void SetUp() override {
    if (!haveProgram("Xvfb") || !haveProgram("xclip")) GTEST_SKIP() << "needs Xvfb and xclip";
    server_ = std::make_unique<PrivateXServer>();
    ASSERT_TRUE(server_->running());
    dir_ = testing::TempDir() + "clipboard-x11-" + std::to_string(getpid());
    std::system(("mkdir -p " + dir_).c_str());
  }
  void TearDown() override {
    server_.reset(); // ends any xclip still serving the selection
    if (!dir_.empty()) std::system(("rm -rf " + dir_).c_str());
  }

  // xclip takes the clipboard with `bytes` and serves it in the background.
  void xclipPut(const std::string& bytes, const char* target = "UTF8_STRING") {
    std::string file = dir_ + "/in";
    std::ofstream(file, std::ios::binary) << bytes;
    std::string command = std::string("xclip -selection clipboard -t ") + target + " -i " + file;
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  std::string xclipGet(const char* target) {
    std::string command = std::string("xclip -selection clipboard -t ") + target + " -o 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
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

  std::unique_ptr<PrivateXServer> server_;
  std::string dir_;
};

// Noise with varying alpha, so that any mix-up of rows, channels or alpha shows.
BgraImage noise(int32_t width, int32_t height) {
  BgraImage image{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4)};
  uint32_t state = 12345;
  for (auto& byte : image.pixels) {
    state = state * 1103515245 + 12345;
    byte = static_cast<uint8_t>(state >> 16);
  }
  return image;
}

const std::string kNonBmpText = "caf\xC3\xA9 \xF0\x9F\x98\x80 \xF0\x9D\x84\x9E end";

} // namespace

TEST_F(X11Clipboard, OurImageIsPastedByOtherClientsAndTextReplacesIt) {
  // Large enough to travel in increments.
  const BgraImage image = noise(700, 500);
  const std::string png = encodePng(image.width, image.height, image.pixels);
  ASSERT_GT(png.size(), 1000000u);
  ClipboardState state(false);
  ASSERT_TRUE(writeClipboardPng(state, png));

  std::string targets = xclipGet("TARGETS");
  EXPECT_NE(targets.find("image/png"), std::string::npos);
  EXPECT_EQ(targets.find("UTF8_STRING"), std::string::npos);
  auto pasted = decodePng(xclipGet("image/png"));
  ASSERT_TRUE(pasted);
  EXPECT_EQ(pasted->width, 700);
  EXPECT_EQ(pasted->height, 500);
  EXPECT_TRUE(pasted->pixels == image.pixels);
  auto readBack = decodePng(readClipboardImagePng());
  ASSERT_TRUE(readBack);
  EXPECT_TRUE(readBack->pixels == image.pixels);
  EXPECT_EQ(readClipboardText(), "");

  writeClipboardText(state, kNonBmpText);
  EXPECT_EQ(xclipGet("UTF8_STRING"), kNonBmpText);
  EXPECT_EQ(readClipboardText(), kNonBmpText);
  EXPECT_EQ(readClipboardImagePng(), "");

  EXPECT_FALSE(writeClipboardPng(state, "not a png at all"));
  EXPECT_FALSE(writeClipboardPng(state, ""));
  EXPECT_EQ(readClipboardText(), kNonBmpText);

  // An empty text is still placed.
  writeClipboardText(state, "");
  EXPECT_TRUE(eventually([] { return readClipboardText().empty(); }));
  EXPECT_NE(xclipGet("TARGETS").find("UTF8_STRING"), std::string::npos);
}

TEST_F(X11Clipboard, ImagesOfOtherClientsAreReadAsPngOrBitmap) {
  const BgraImage image = noise(600, 400);
  xclipPut(encodePng(image.width, image.height, image.pixels), "image/png");
  std::string png;
  EXPECT_TRUE(eventually([&] { return !(png = readClipboardImagePng()).empty(); }));
  auto decoded = decodePng(png);
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(decoded->pixels == image.pixels);

  // A 24-bit BMP file, bottom-up, width 3 (row padding).
  std::string bmp = "BM" + std::string(12, '\0');
  std::vector<uint8_t> dib(40 + 2 * 12);
  dib[0] = 40, dib[4] = 3, dib[8] = 2, dib[12] = 1, dib[14] = 24;
  for (int i = 0; i < 9; ++i) dib[40 + i] = static_cast<uint8_t>(10 + i), dib[52 + i] = static_cast<uint8_t>(20 + i);
  bmp.append(dib.begin(), dib.end());
  xclipPut(bmp, "image/bmp");
  // xclip serves from the background: wait until it has taken over.
  EXPECT_TRUE(eventually([&] { return (decoded = decodePng(readClipboardImagePng())) && decoded->width == 3; }));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->height, 2);
  EXPECT_EQ(std::vector<uint8_t>(decoded->pixels.begin(), decoded->pixels.begin() + 4),
            (std::vector<uint8_t>{20, 21, 22, 255}));

  // A bitmap that claims more rows than it holds is no image.
  dib[8] = 200;
  xclipPut("BM" + std::string(12, '\0') + std::string(dib.begin(), dib.end()), "image/bmp");
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

TEST_F(X11Clipboard, ViewOnlyWritesChangeNothing) {
  xclipPut("theirs");
  ASSERT_TRUE(eventually([] { return readClipboardText() == "theirs"; }));
  ClipboardState state(true);
  writeClipboardText(state, "ours");
  const BgraImage image = noise(4, 4);
  EXPECT_FALSE(writeClipboardPng(state, encodePng(4, 4, image.pixels)));
  acceptImageChunk(state, 0, 1, base64Encode(encodePng(4, 4, image.pixels)));
  EXPECT_EQ(readClipboardText(), "theirs");
  EXPECT_EQ(state.ownClipboardSequence.load(), 0u);
}
