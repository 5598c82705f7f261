#include "host/diagnostic_log.h"
#include "host/host_callbacks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <system_error>
#include <thread>

using namespace dravnok;
using namespace dravnok::host;

namespace {

struct LogFile : testing::Test {
  std::filesystem::path path = std::filesystem::temp_directory_path() /
                               ("dravnok-log-" + std::to_string(testing::UnitTest::GetInstance()->random_seed()) +
                                testing::UnitTest::GetInstance()->current_test_info()->name() + ".log");
  void SetUp() override { std::filesystem::remove(path); }
  void TearDown() override {
    closeLogFile();
    std::filesystem::remove(path);
  }
};

} // namespace

TEST_F(LogFile, BesideTheProgramWithEventLinesOnStdoutAndTimeStampedRecordsInTheFile) {
  // The file lies beside the program whatever the separator.
  const char* cases[][3] = {{"C:\\Tools\\remote-helper.exe", "\\", "C:\\Tools\\remote-helper.log"},
                            {"C:/Tools/remote-helper.exe", "\\", "C:/Tools\\remote-helper.log"},
                            {"remote-helper.exe", "\\", ".\\remote-helper.log"},
                            {"", "/", "./remote-helper.log"},
                            {"/opt/dravnok/remote-helper", "/", "/opt/dravnok/remote-helper.log"}};
  for (auto [program, separator, log] : cases) EXPECT_EQ(logFilePathFor(program, separator[0]), log) << program;

  logToFile("info", "early"); // before the file is opened: nowhere
  openLogFileAt(path.string());
  HostState state;
  SessionBanner banner;
  HostCallbacks callbacks = makeHostCallbacks(state, banner);
  testing::internal::CaptureStdout();
  logToFile("sdp", "OFFER (from the browser):\nv=0\r\no=- 1 1 IN IP4 0.0.0.0");
  logEvent("warn", "disk \"full\"\xFF");
  callbacks.onState("connecting");
  EXPECT_FALSE(state.quitRequested);
  callbacks.onState("closed");
  EXPECT_TRUE(state.quitRequested);
  callbacks.onCandidate("candidate:1 1 UDP 1 127.0.0.1 5000 typ host", "0", 0, false);
  callbacks.onCandidate("", "", 0, true);
  callbacks.onAnswer("s=J\xC3\xB6rg");
  // Read before the capture ends, which flushes every stream: each record is
  // in the file as soon as it is written.
  std::ifstream file(path, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(file), {}};
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "{\"evt\":\"log\",\"level\":\"warn\",\"msg\":\"disk \\\"full\\\"\xEF\xBF\xBD\"}\n"
            "{\"evt\":\"state\",\"value\":\"connecting\"}\n"
            "{\"evt\":\"state\",\"value\":\"closed\"}\n"
            "{\"candidate\":{\"candidate\":\"candidate:1 1 UDP 1 127.0.0.1 5000 typ host\",\"sdpMLineIndex\":0,"
            "\"sdpMid\":\"0\"},\"evt\":\"ice\"}\n"
            "{\"candidate\":null,\"evt\":\"ice\"}\n"
            "{\"evt\":\"answer\",\"sdp\":\"s=J\xC3\xB6rg\"}\n");
  // Time stamps as T: what is left is the whole file.
  EXPECT_EQ(std::regex_replace(text, std::regex(R"(\d\d:\d\d:\d\d\.\d{3})"), "T"),
            "\n==== session start T ====\n"
            "T [sdp] OFFER (from the browser):\nv=0\r\no=- 1 1 IN IP4 0.0.0.0\n"
            "T [warn] disk \"full\"\xFF\n"
            "T [state] peerConnection -> connecting\n"
            "T [state] peerConnection -> closed\n"
            "T [sdp] ANSWER (what we send the browser):\ns=J\xC3\xB6rg\n");
}

// A window that gives up at once, and whose clean-up after that fails the
// way a thread start can: with std::system_error.
struct FailingBannerWindow : BannerWindowThread {
  void run(SessionBanner& banner) override { banner.windowFailed(); }
  void wake() override {}
  void joined() override { throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)); }
};

TEST(StateHandler, ABannerThatCannotBeShownIsLoggedNotThrown) {
  HostState state;
  SessionBanner banner(std::make_unique<FailingBannerWindow>());
  HostCallbacks callbacks = makeHostCallbacks(state, banner);
  testing::internal::CaptureStdout();
  callbacks.onState("connected");
  while (banner.running()) std::this_thread::yield();
  EXPECT_NO_THROW(callbacks.onState("connected"));
  EXPECT_FALSE(banner.running()) << "a later show tries again";
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find(R"({"evt":"log","level":"error","msg":"the session banner cannot be shown: )"), std::string::npos)
      << out;
}
