// fuzz-deps: dravnok::rtc
// A data channel OPEN from the peer is decoded within its bytes, and what
// decodes encodes back to a message that decodes to the same channel.
#include "rtc/dcep.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace rtc::impl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> message(data, data + size);
  std::optional<dcep::OpenMessage> open = dcep::decodeOpen(message);
  if (!open) return 0;
  if (open->label.size() + open->protocol.size() > size) std::abort();
  std::optional<dcep::OpenMessage> again = dcep::decodeOpen(dcep::encodeOpen(*open));
  if (!again || again->label != open->label || again->protocol != open->protocol ||
      again->channelType != open->channelType || again->priority != open->priority ||
      again->reliabilityParameter != open->reliabilityParameter)
    std::abort();
  return 0;
}
