#include "header_extensions.hpp"

#include <algorithm>

namespace rtc::impl {

namespace {

constexpr std::string_view WrittenExtensions[] = {PlayoutDelayUri};

bool written(std::string_view uri) {
  return std::find(std::begin(WrittenExtensions), std::end(WrittenExtensions), uri) != std::end(WrittenExtensions);
}

} // namespace

optional<uint8_t> oneByteExtensionId(const Description::Entry& entry, std::string_view uri) {
  for (const auto& [id, map] : entry.extMaps()) {
    if (map.uri == uri && id >= 1 && id <= 14) return static_cast<uint8_t>(id);
  }
  return nullopt;
}

void answerExtMaps(const Description::Entry& offered, Description::Entry& answer) {
  while (!answer.extMaps().empty()) answer.removeExtMap(answer.extMaps().begin()->first);
  using Direction = Description::Direction;
  for (const auto& [id, map] : offered.extMaps()) {
    if (!written(map.uri) || id < 1 || id > 14) continue;
    if (map.direction == Direction::SendOnly || map.direction == Direction::Inactive) continue;
    // Without a direction the mapping follows the section's; with one, ours
    // is the sending side of it.
    const auto direction = map.direction == Direction::Unknown ? Direction::Unknown : Direction::SendOnly;
    answer.addExtMap({id, map.uri, "", direction});
  }
}

std::array<byte, 3> playoutDelayData(uint16_t minimum, uint16_t maximum) {
  const uint32_t min = std::min<uint32_t>(minimum, 0xFFF);
  const uint32_t max = std::min<uint32_t>(maximum, 0xFFF);
  const uint32_t bits = (min << 12) | max;
  return {static_cast<byte>(bits >> 16), static_cast<byte>(bits >> 8), static_cast<byte>(bits)};
}

} // namespace rtc::impl
