#include "video/decode_back.h"

#include <wels/codec_api.h>

#include <memory>

namespace dravnok::video {

namespace {

struct DecoderDeleter {
  void operator()(ISVCDecoder* decoder) const {
    decoder->Uninitialize();
    WelsDestroyDecoder(decoder);
  }
};

} // namespace

bool decodeBackWithOpenH264(std::span<const uint8_t> accessUnit, DecodedPicture& out, std::string& error) {
  out = {};
  ISVCDecoder* raw = nullptr;
  if (WelsCreateDecoder(&raw) != 0 || !raw) {
    error = "WelsCreateDecoder failed";
    return false;
  }
  std::unique_ptr<ISVCDecoder, DecoderDeleter> decoder(raw);
  SDecodingParam params{};
  params.sVideoProperty.eVideoBsType = VIDEO_BITSTREAM_AVC;
  if (decoder->Initialize(&params) != 0) {
    error = "OpenH264 decoder Initialize failed";
    return false;
  }
  unsigned char* planes[3] = {};
  SBufferInfo info{};
  const DECODING_STATE state =
      decoder->DecodeFrameNoDelay(accessUnit.data(), static_cast<int>(accessUnit.size()), planes, &info);
  if (state != dsErrorFree || info.iBufferStatus != 1 || !planes[0]) {
    error = "OpenH264 decoded no picture (state " + std::to_string(static_cast<int>(state)) + ")";
    return false;
  }
  const SSysMEMBuffer& picture = info.UsrData.sSystemBuffer;
  out.width = picture.iWidth;
  out.height = picture.iHeight;
  uint64_t sum = 0;
  for (int y = 0; y < picture.iHeight; ++y) {
    const unsigned char* row = planes[0] + static_cast<ptrdiff_t>(y) * picture.iStride[0];
    for (int x = 0; x < picture.iWidth; ++x) sum += row[x];
  }
  const double count = static_cast<double>(picture.iWidth) * picture.iHeight;
  out.lumaMean = count > 0 ? static_cast<double>(sum) / count : -1.0;
  return true;
}

} // namespace dravnok::video
