#include "video/conversion_settings.h"

#include "common/env.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <thread>

namespace dravnok::video {

int defaultConversionThreads(unsigned hardwareConcurrency) {
  int n = hardwareConcurrency == 0 ? 1 : static_cast<int>(std::min(hardwareConcurrency, 64u));
  return std::min(std::max(n - 1, 1), 4);
}

ConversionSettings conversionSettingsFrom(unsigned hardwareConcurrency, std::optional<std::string_view> threadsValue,
                                          std::optional<std::string_view> legacyValue) {
  ConversionSettings settings;
  settings.threads = defaultConversionThreads(hardwareConcurrency);
  // The value is read like atoi from a 16-byte buffer: longer values do not fit.
  if (threadsValue && threadsValue->size() < 16) {
    int requested = std::atoi(std::string(*threadsValue).c_str());
    if (requested >= 1) settings.threads = requested;
  }
  settings.threads = std::clamp(settings.threads, 1, 8);
  settings.legacy = legacyValue && isFlagOn(*legacyValue);
  return settings;
}

ConversionSettings readConversionSettings() {
  return conversionSettingsFrom(std::thread::hardware_concurrency(), envValue("DRAVNOK_REMOTE_CONVTHREADS"),
                                envValue("DRAVNOK_REMOTE_LEGACYCONV"));
}

} // namespace dravnok::video
