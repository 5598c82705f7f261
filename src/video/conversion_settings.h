#pragma once
// How the encoder converts: thread count and converter choice, from the
// machine and the DRAVNOK_REMOTE_CONVTHREADS / DRAVNOK_REMOTE_LEGACYCONV
// variables.
#include <optional>
#include <string_view>

namespace dravnok::video {

struct ConversionSettings {
  int threads = 1; // 1..8, the calling thread included
  bool legacy = false;
};

// min(max(n - 1, 1), 4); a machine reporting 0 counts as 1.
int defaultConversionThreads(unsigned hardwareConcurrency);

// The rules applied to given variable values (nullopt: unset).
ConversionSettings conversionSettingsFrom(unsigned hardwareConcurrency, std::optional<std::string_view> threadsValue,
                                          std::optional<std::string_view> legacyValue);

// From this machine and the process environment.
ConversionSettings readConversionSettings();

} // namespace dravnok::video
