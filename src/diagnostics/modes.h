#pragma once
// The procedures behind remote-helper's test options. Each returns the
// process's exit code.
#include <string>

namespace dravnok::diagnostics {

int runCaptureSelfTest(const std::string& bitmapPath);
int runDisplayProbe();
int runEncodeSelfTest();
int runBenchmark(int count);
int runElevatedInputSelfTest();
int runCongestionSelfTest();
int runBannerTest(const std::string& bitmapPath);
int runClipboardSelfTest(const std::string& pngPath);
int runClipboardReadTest(const std::string& pngPath);
int runClipboardEcho(const std::string& inPngPath, const std::string& outPngPath);

// For a mode whose procedure this build does not have yet: says so on
// standard error and returns 2.
int notAvailableYet(const char* option);

} // namespace dravnok::diagnostics
