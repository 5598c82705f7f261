#pragma once
// Where the encode loop's pictures come from: a capturer and the colour
// conversion behind one small seam.
#include <cstdint>
#include <string>

namespace dravnok::video {

class PictureSource {
public:
  virtual ~PictureSource() = default;
  // Waits up to `timeoutMs` for an image; true when one is held.
  virtual bool acquire(int timeoutMs) = 0;
  // Converts the held image into NV12 at the encode size.
  virtual bool convert(uint8_t* nv12) = 0;
  virtual void release() = 0;
  // The next acquisition must yield an image even if nothing changed.
  virtual void requestFreshFrame() = 0;
  virtual bool screenCopyMode() const = 0;
  virtual bool legacyConverter() const { return false; }
  virtual int converterThreads() const { return 1; }
};

} // namespace dravnok::video
