#include "video/nv12_converter.h"

namespace dravnok::video {

Nv12Converter::Nv12Converter(ConversionSettings settings, int encodeWidth, int encodeHeight)
    : width(evenAtLeastTwo(encodeWidth)), height(evenAtLeastTwo(encodeHeight)), useLegacy(settings.legacy),
      fast(settings.threads) {}

void Nv12Converter::convert(const uint8_t* source, int32_t pitch, uint32_t sourceWidth, uint32_t sourceHeight,
                            uint8_t* dest) {
  if (useLegacy) {
    convertLegacy(source, pitch, sourceWidth, sourceHeight, dest);
  } else {
    convertFast(source, pitch, sourceWidth, sourceHeight, dest);
  }
}

void Nv12Converter::convertFast(const uint8_t* source, int32_t pitch, uint32_t sourceWidth, uint32_t sourceHeight,
                                uint8_t* dest) {
  fast.convert(source, pitch, sourceWidth, sourceHeight, width, height, dest);
}

void Nv12Converter::convertLegacy(const uint8_t* source, int32_t pitch, uint32_t sourceWidth, uint32_t sourceHeight,
                                  uint8_t* dest) const {
  video::convertLegacy(source, pitch, sourceWidth, sourceHeight, width, height, dest);
}

} // namespace dravnok::video
