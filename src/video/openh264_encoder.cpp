#include "video/openh264_encoder.h"

#include "video/colour_description.h"
#include "video/encoder_config.h"
#include "video/speed_preset.h"

#include <wels/codec_api.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace dravnok::video {

int openH264QuantizerFor(int32_t quality) {
  return std::clamp(static_cast<int>(std::lround(quantizerScaleFor(quality))), 10, 51);
}

int openH264ComplexityFor(int32_t qualityVsSpeed) {
  // Up to the default the fastest, as with the other software encoder: the
  // supported user's own work needs the CPU more than the link needs bits.
  if (qualityVsSpeed <= 50) return LOW_COMPLEXITY;
  return qualityVsSpeed <= 80 ? MEDIUM_COMPLEXITY : HIGH_COMPLEXITY;
}

namespace {

struct EncoderDeleter {
  void operator()(ISVCEncoder* encoder) const {
    encoder->Uninitialize();
    WelsDestroySVCEncoder(encoder);
  }
};

class OpenH264Encoder final : public EncoderBackend {
public:
  bool open(const EncoderConfig& config, int32_t, int32_t quality, bool& hardware, std::string& error) override {
    hardware = false;
    width = config.width;
    height = config.height;
    ISVCEncoder* raw = nullptr;
    if (WelsCreateSVCEncoder(&raw) != 0 || !raw) {
      error = "WelsCreateSVCEncoder failed";
      return false;
    }
    encoder.reset(raw);
    // Its notes would reach the agent's log on every start; errors only.
    int traceLevel = WELS_LOG_ERROR;
    encoder->SetOption(ENCODER_OPTION_TRACE_LEVEL, &traceLevel);
    encoder->GetDefaultParams(&params);
    // Its screen-content mode turns any large change into an IDR of its own
    // choosing; the real-time mode keeps key frames to the loop's requests.
    params.iUsageType = CAMERA_VIDEO_REAL_TIME;
    params.iPicWidth = width;
    params.iPicHeight = height;
    params.fMaxFrameRate = static_cast<float>(std::max(config.fps, 1));
    // The loop controls the rate through the quality; the encoder holds it.
    params.iRCMode = RC_OFF_MODE;
    params.bEnableFrameSkip = false;
    params.iTemporalLayerNum = 1;
    params.iSpatialLayerNum = 1;
    params.uiIntraPeriod =
        config.gopSeconds < 1 ? 0u : static_cast<unsigned>(std::max(config.fps, 1) * config.gopSeconds);
    params.iNumRefFrame = 1;
    params.eSpsPpsIdStrategy = CONSTANT_ID;
    // Plain AVC for the browser: no SVC prefix units, no long-term references,
    // no key frames of the encoder's own choosing.
    params.bPrefixNalAddingCtrl = false;
    params.bEnableSSEI = false;
    params.bEnableLongTermReference = false;
    params.bEnableSceneChangeDetect = false;
    params.bEnableDenoise = false;
    params.bEnableBackgroundDetection = true;
    params.bEnableAdaptiveQuant = false;
    params.iEntropyCodingModeFlag = 0;
    params.iComplexityMode = static_cast<ECOMPLEXITY_MODE>(openH264ComplexityFor(qualityVsSpeedFromEnvironment()));
    threads = static_cast<unsigned short>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    params.iMultipleThreadIdc = threads;

    SSpatialLayerConfig& layer = params.sSpatialLayers[0];
    layer.iVideoWidth = width;
    layer.iVideoHeight = height;
    layer.fFrameRate = params.fMaxFrameRate;
    layer.uiProfileIdc = PRO_BASELINE;
    layer.sSliceArgument.uiSliceMode = threads > 1 ? SM_FIXEDSLCNUM_SLICE : SM_SINGLE_SLICE;
    layer.sSliceArgument.uiSliceNum = threads;
    layer.bVideoSignalTypePresent = true;
    layer.uiVideoFormat = 5; // unspecified
    layer.bFullRange = kEncodedColour.fullRange;
    layer.bColorDescriptionPresent = true;
    layer.uiColorPrimaries = kEncodedColour.primaries;
    layer.uiTransferCharacteristics = kEncodedColour.transfer;
    layer.uiColorMatrix = kEncodedColour.matrix;
    applyQuantizer(quality);

    if (const int rc = encoder->InitializeExt(&params); rc != cmResultSuccess) {
      error = "OpenH264 InitializeExt failed (" + std::to_string(rc) + ")";
      encoder.reset();
      return false;
    }
    int format = videoFormatI420;
    encoder->SetOption(ENCODER_OPTION_DATAFORMAT, &format);
    planar.resize(static_cast<size_t>(width) * height * 3 / 2);
    return true;
  }

  std::string describeSettings() override {
    char text[160];
    std::snprintf(text, sizeof text, "encoder=openh264 rc=fixed-qp q=%d qp=%d complexity=%d threads=%u gop=%u",
                  currentQuality, params.sSpatialLayers[0].iDLayerQp, static_cast<int>(params.iComplexityMode),
                  static_cast<unsigned>(threads), params.uiIntraPeriod);
    return text;
  }

  const char* name() const override { return "openh264"; }

  bool setQuality(int32_t quality) override {
    if (!encoder) return false;
    const int before = params.sSpatialLayers[0].iDLayerQp;
    applyQuantizer(quality);
    if (params.sSpatialLayers[0].iDLayerQp == before) return true;
    return encoder->SetOption(ENCODER_OPTION_SVC_ENCODE_PARAM_EXT, &params) == cmResultSuccess;
  }

  bool encode(const uint8_t* nv12, int64_t timestamp, bool forceKeyFrame, const EncodedOutput& output) override {
    if (!encoder) return false;
    toPlanar(nv12);
    SSourcePicture picture{};
    picture.iColorFormat = videoFormatI420;
    picture.iPicWidth = width;
    picture.iPicHeight = height;
    const size_t lumaSize = static_cast<size_t>(width) * height;
    picture.pData[0] = planar.data();
    picture.pData[1] = planar.data() + lumaSize;
    picture.pData[2] = planar.data() + lumaSize + lumaSize / 4;
    picture.iStride[0] = width;
    picture.iStride[1] = picture.iStride[2] = width / 2;
    // Milliseconds, strictly increasing (the encoder misreads repeated ones).
    lastMs = std::max(lastMs + 1, timestamp / 1'000'000);
    picture.uiTimeStamp = lastMs;
    if (forceKeyFrame) encoder->ForceIntraFrame(true);
    SFrameBSInfo info{};
    if (encoder->EncodeFrame(&picture, &info) != cmResultSuccess) return false;
    if (info.eFrameType == videoFrameTypeSkip || info.eFrameType == videoFrameTypeInvalid) return true;
    accessUnit.clear();
    for (int l = 0; l < info.iLayerNum; ++l) {
      const SLayerBSInfo& layer = info.sLayerInfo[l];
      size_t bytes = 0;
      for (int n = 0; n < layer.iNalCount; ++n) bytes += static_cast<size_t>(layer.pNalLengthInByte[n]);
      accessUnit.insert(accessUnit.end(), layer.pBsBuf, layer.pBsBuf + bytes);
    }
    if (!accessUnit.empty()) output(accessUnit.data(), accessUnit.size(), info.eFrameType == videoFrameTypeIDR);
    return true;
  }

  // Nothing is held back: every picture's access unit leaves at once.
  void flush(const EncodedOutput&) override {}

private:
  void applyQuantizer(int32_t quality) {
    currentQuality = quality;
    const int qp = openH264QuantizerFor(quality);
    params.sSpatialLayers[0].iDLayerQp = qp;
    params.iMinQp = params.iMaxQp = qp;
  }

  // The encoder takes I420 only; the converter writes NV12.
  void toPlanar(const uint8_t* nv12) {
    const size_t lumaSize = static_cast<size_t>(width) * height;
    std::memcpy(planar.data(), nv12, lumaSize);
    const uint8_t* uv = nv12 + lumaSize;
    uint8_t* u = planar.data() + lumaSize;
    uint8_t* v = u + lumaSize / 4;
    for (size_t i = 0, n = lumaSize / 4; i < n; ++i) {
      u[i] = uv[2 * i];
      v[i] = uv[2 * i + 1];
    }
  }

  std::unique_ptr<ISVCEncoder, EncoderDeleter> encoder;
  SEncParamExt params{};
  int32_t width = 0, height = 0;
  int32_t currentQuality = 0;
  unsigned short threads = 1;
  int64_t lastMs = 0;
  std::vector<uint8_t> planar;
  std::vector<uint8_t> accessUnit;
};

} // namespace

std::unique_ptr<EncoderBackend> makeOpenH264Encoder() { return std::make_unique<OpenH264Encoder>(); }

} // namespace dravnok::video
