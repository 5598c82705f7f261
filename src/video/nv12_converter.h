#pragma once
// The encoder's conversion state: encode size, settings, the fast converter
// and its maps. Writes plain NV12 pictures into caller buffers; wrapping them
// for an encoder is the platform's business.
#include "video/conversion_settings.h"
#include "video/fast_converter.h"
#include "video/legacy_converter.h"

#include <cstddef>
#include <cstdint>

namespace dravnok::video {

class Nv12Converter {
public:
  Nv12Converter(ConversionSettings settings, int encodeWidth, int encodeHeight);

  int encodeWidth() const { return width; }
  int encodeHeight() const { return height; }
  size_t pictureSize() const { return nv12Size(width, height); }
  bool legacy() const { return useLegacy; }
  int threads() const { return fast.threads(); }

  // The converter the settings chose; `dest` holds pictureSize() bytes.
  void convert(const uint8_t* source, int32_t pitch, uint32_t sourceWidth, uint32_t sourceHeight, uint8_t* dest);
  void convertFast(const uint8_t* source, int32_t pitch, uint32_t sourceWidth, uint32_t sourceHeight, uint8_t* dest);
  void convertLegacy(const uint8_t* source, int32_t pitch, uint32_t sourceWidth, uint32_t sourceHeight,
                     uint8_t* dest) const;

private:
  int width;
  int height;
  bool useLegacy;
  FastConverter fast;
};

} // namespace dravnok::video
