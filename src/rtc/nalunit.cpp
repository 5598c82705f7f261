#include "rtc/nalunit.hpp"

#include "byte_order.hpp"

#include <algorithm>

namespace rtc {

namespace {

void addUnit(std::span<const byte> unit, std::vector<std::span<const byte>>& units) {
  size_t size = unit.size();
  while (size > 0 && unit[size - 1] == byte{0}) --size;
  if (size > 0) units.push_back(unit.first(size));
}

// Annex-B: every 00 00 01 starts a unit; the zero before a four-byte start
// code is trailing data of the previous unit and removed with it.
void splitByteStream(std::span<const byte> data, std::vector<std::span<const byte>>& units) {
  size_t unitStart = 0;
  size_t searchFrom = 2;
  while (searchFrom < data.size()) {
    auto one = std::find(data.begin() + static_cast<std::ptrdiff_t>(searchFrom), data.end(), byte{1});
    if (one == data.end()) break;
    const size_t at = static_cast<size_t>(one - data.begin());
    if (data[at - 1] == byte{0} && data[at - 2] == byte{0}) {
      addUnit(data.subspan(unitStart, at - 2 - unitStart), units);
      unitStart = at + 1;
      searchFrom = at + 3;
    } else {
      searchFrom = at + 1;
    }
  }
  if (unitStart < data.size()) addUnit(data.subspan(unitStart), units);
}

void splitLengthPrefixed(std::span<const byte> data, std::vector<std::span<const byte>>& units) {
  size_t offset = 0;
  while (data.size() - offset >= 4) {
    const size_t length = impl::readBe32(data.data() + offset);
    offset += 4;
    if (length > data.size() - offset) break;
    if (length > 0) units.push_back(data.subspan(offset, length));
    offset += length;
  }
}

} // namespace

std::vector<std::span<const byte>> NalUnit::split(std::span<const byte> data, Separator separator) {
  std::vector<std::span<const byte>> units;
  if (separator == Separator::Length) {
    splitLengthPrefixed(data, units);
  } else {
    splitByteStream(data, units);
  }
  return units;
}

} // namespace rtc
