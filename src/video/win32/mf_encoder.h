#pragma once
// H.264 on a Media Foundation encoder transform: software or hardware,
// synchronous or asynchronous, in quality-based rate control with low
// latency and key frames only on request.
#include "video/encoder_backend.h"
#include "video/latest_pictures_queue.h"
#include "video/sample_clock.h"

#include <windows.h>

#include <codecapi.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mftransform.h>
#include <strmif.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace dravnok::video {

using Microsoft::WRL::ComPtr;

// Activates an H.264 encoder found with one set of MFTEnumEx flags; null
// when none was found or activation failed.
using MftActivator = std::function<ComPtr<IMFTransform>(UINT32 flags)>;

// The system's transforms: the first one MFTEnumEx lists for `flags`.
ComPtr<IMFTransform> activateFirstH264Encoder(UINT32 flags);

struct MftChoice {
  ComPtr<IMFTransform> transform;
  // Found by the hardware request.
  bool hardware = false;
};

// Hardware first when asked for, then synchronous software, then whatever
// the system has.
MftChoice chooseH264EncoderMft(bool hardwareRequested, const MftActivator& activate);

class MfEncoder final : public EncoderBackend {
public:
  explicit MfEncoder(MftActivator activate);
  ~MfEncoder() override;
  MfEncoder(const MfEncoder&) = delete;
  MfEncoder& operator=(const MfEncoder&) = delete;

  bool open(const EncoderConfig& config, int32_t bitrate, int32_t quality, bool& hardware, std::string& error) override;
  std::string describeSettings() override;
  const char* name() const override { return "mf"; }
  bool setQuality(int32_t quality) override;
  bool encode(const uint8_t* nv12, int64_t timestamp, bool forceKeyFrame, const EncodedOutput& output) override;
  void flush(const EncodedOutput& output) override;
  void setFrameRate(int32_t rate) override { frameRate = std::max(rate, 1); }
  uint8_t* lendPicture() override;
  bool asynchronous() const override { return asyncMft; }
  void beginStreaming(TimedOutput output) override;
  bool encodeSingle(const uint8_t* nv12, const EncodedOutput& output, std::string& error) override;

  void forceKeyFrame();
  int32_t currentQuality() const { return quality; }

private:
  // A memory buffer kept locked, its bytes at `data`, until it is replaced.
  struct LockedBuffer {
    ComPtr<IMFMediaBuffer> buffer;
    BYTE* data = nullptr;
    LockedBuffer() = default;
    LockedBuffer(const LockedBuffer&) = delete;
    LockedBuffer& operator=(LockedBuffer&& other) noexcept;
    ~LockedBuffer() { reset(); }
    void reset();
  };

  DWORD pictureBytes() const { return static_cast<DWORD>(static_cast<size_t>(width) * height * 3 / 2); }
  bool makeSample(const uint8_t* nv12, int64_t timestamp, ComPtr<IMFSample>& sample);
  void startStream();
  // Pulls output until the transform wants more input; false on the first
  // failure or stream change.
  void drain(const EncodedOutput& output);
  // One ProcessOutput; false when it gave no picture.
  bool processOneOutput(const EncodedOutput& output);
  void deliver(IMFSample* sample, const EncodedOutput& output);
  void runEvents();
  void endAsyncStream();

  MftActivator activate;
  // Released in reverse: the queue's samples, the event generator, the codec
  // settings, the transform.
  ComPtr<IMFTransform> transform;
  ComPtr<ICodecAPI> codecApi;
  ComPtr<IMFMediaEventGenerator> eventGenerator;
  LatestPicturesQueue<ComPtr<IMFSample>> asyncQueue;

  int32_t width = 0, height = 0, fps = 30, gopSeconds = 0;
  // The loop's current rate: samples' duration and the clock's step.
  int32_t frameRate = 30;
  bool asyncMft = false;
  bool streaming = false;
  DWORD inputStreamId = 0, outputStreamId = 0;
  int32_t quality = 92;
  SampleClock sampleClock;

  TimedOutput asyncOutput;
  std::atomic<int64_t> lastAsyncTimestamp{0};
  std::atomic<bool> asyncStopping{false};
  std::thread eventThread;
  // The picture being converted into, and the last one encode() took.
  LockedBuffer lent, taken;
};

} // namespace dravnok::video
