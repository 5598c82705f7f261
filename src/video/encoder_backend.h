#pragma once
// The platform's H.264 encoder as the encode loop drives it: NV12 pictures
// in, Annex-B access units out, quality 1..100 (higher is better) adjustable
// between pictures.
#include "video/encoder_config.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace dravnok::video {

using EncodedOutput = std::function<void(const uint8_t* data, size_t length, bool keyFrame)>;
// Access units of an asynchronous encoder with the timestamp of the picture
// it took last.
using TimedOutput = std::function<void(const uint8_t* data, size_t length, bool keyFrame, int64_t timestamp)>;

class EncoderBackend {
public:
  virtual ~EncoderBackend() = default;
  // `width`/`height` are already even. `hardware` tells whether a hardware
  // encoder was chosen on request.
  virtual bool open(const EncoderConfig& config, int32_t bitrate, int32_t quality, bool& hardware,
                    std::string& error) = 0;
  virtual std::string describeSettings() = 0;
  // Which encoder this is, for the statistics line.
  virtual const char* name() const = 0;
  // False when the encoder cannot change its quality.
  virtual bool setQuality(int32_t quality) = 0;
  // Encodes one picture and hands every access unit it yields to `output`.
  // `nv12` holds width*height*3/2 bytes.
  virtual bool encode(const uint8_t* nv12, int64_t timestamp, bool forceKeyFrame, const EncodedOutput& output) = 0;
  // Ends the stream, handing out what is still buffered.
  virtual void flush(const EncodedOutput& output) = 0;

  // The frame rate pictures come at now (the loop's, which falls below the
  // configured one when the bitrate is short): their duration.
  virtual void setFrameRate(int32_t) {}
  // Encoders that wrap pictures in buffers of their own lend one for the
  // next picture here, so that it is converted straight into it and not
  // copied in by encode(). A lent buffer stays writable until encode()
  // takes it, then readable, for encoding again, until encode() takes the
  // next one. Null: nothing lent, encode() copies.
  virtual uint8_t* lendPicture() { return nullptr; }

  // Asynchronous encoders (hardware ones that ask for input in their own
  // time) only queue pictures in encode(); their access units reach the
  // output given to beginStreaming(), from their own thread, until flush()
  // returns. Re-encoding a held picture does not suit them.
  virtual bool asynchronous() const { return false; }
  // Called before the loop's first picture.
  virtual void beginStreaming(TimedOutput) {}

  // One picture as a stream of its own: a forced IDR, then the end of the
  // stream. The self-test's encode.
  virtual bool encodeSingle(const uint8_t* nv12, const EncodedOutput& output, std::string& error) {
    if (!encode(nv12, 0, true, output)) {
      error = "encodeOneForTest: encode failed";
      return false;
    }
    flush(output);
    return true;
  }
};

// The platform's encoder (software unless a hardware one is asked for).
std::unique_ptr<EncoderBackend> makeEncoderBackend();

} // namespace dravnok::video
