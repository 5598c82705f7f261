#pragma once
// Reads the colour description from the first sequence parameter set of an
// Annex-B H.264 stream (H.264 7.3.2.1.1 and E.1.1), for the encoder tests.
// Only Baseline, Main and Extended profiles are read; others give nothing.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace dravnok::video::testing {

struct SpsColour {
  bool signalTypePresent = false; // video_signal_type_present_flag
  bool fullRange = false;
  bool descriptionPresent = false; // colour_description_present_flag
  int primaries = -1, transfer = -1, matrix = -1;
};

// Exp-Golomb bit reader over an RBSP; reading past the end gives zeros and
// sets `overrun`.
class BitReader {
public:
  explicit BitReader(std::vector<uint8_t> rbsp) : bytes(std::move(rbsp)) {}
  uint32_t bits(int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i, ++position) {
      overrun = overrun || position >= bytes.size() * 8;
      const uint32_t bit = overrun ? 0 : (bytes[position / 8] >> (7 - position % 8)) & 1;
      value = value << 1 | bit;
    }
    return value;
  }
  uint32_t ue() {
    int zeros = 0;
    while (!bits(1) && !overrun && zeros < 31) ++zeros;
    return (uint32_t{1} << zeros) - 1 + bits(zeros);
  }
  void se() { ue(); }
  bool overrun = false;

private:
  std::vector<uint8_t> bytes;
  size_t position = 0;
};

inline std::optional<SpsColour> readSpsColour(std::span<const uint8_t> stream) {
  // The SPS NAL unit's payload with emulation prevention bytes removed.
  std::vector<uint8_t> rbsp;
  for (size_t i = 0; i + 3 < stream.size() && rbsp.empty(); ++i) {
    if (stream[i] != 0 || stream[i + 1] != 0 || stream[i + 2] != 1 || (stream[i + 3] & 0x1f) != 7) continue;
    for (size_t j = i + 4, zeros = 0; j < stream.size(); ++j) {
      if (zeros >= 2 && stream[j] <= 1) break; // the next start code
      if (zeros >= 2 && stream[j] == 3) {
        zeros = 0;
        continue;
      }
      zeros = stream[j] == 0 ? zeros + 1 : 0;
      rbsp.push_back(stream[j]);
    }
  }
  if (rbsp.empty()) return std::nullopt;
  BitReader r(std::move(rbsp));
  const uint32_t profile = r.bits(8);
  r.bits(16); // constraint flags, level
  r.ue();     // seq_parameter_set_id
  // Profiles above Main carry chroma and scaling fields first; ours never do.
  if (profile != 66 && profile != 77 && profile != 88) return std::nullopt;
  r.ue(); // log2_max_frame_num_minus4
  if (const uint32_t pocType = r.ue(); pocType == 0) {
    r.ue();
  } else if (pocType == 1) {
    r.bits(1);
    r.se();
    r.se();
    for (uint32_t n = r.ue(); n > 0 && !r.overrun; --n) r.se();
  }
  r.ue();                    // max_num_ref_frames
  r.bits(1);                 // gaps_in_frame_num_value_allowed_flag
  r.ue();                    // pic_width_in_mbs_minus1
  r.ue();                    // pic_height_in_map_units_minus1
  if (!r.bits(1)) r.bits(1); // frame_mbs_only_flag, mb_adaptive_frame_field_flag
  r.bits(1);                 // direct_8x8_inference_flag
  if (r.bits(1)) {
    for (int i = 0; i < 4; ++i) r.ue(); // frame cropping offsets
  }
  SpsColour colour;
  if (r.bits(1)) {                                 // vui_parameters_present_flag
    if (r.bits(1) && r.bits(8) == 255) r.bits(32); // aspect ratio, extended SAR
    if (r.bits(1)) r.bits(1);                      // overscan
    colour.signalTypePresent = r.bits(1);
    if (colour.signalTypePresent) {
      r.bits(3); // video_format
      colour.fullRange = r.bits(1);
      colour.descriptionPresent = r.bits(1);
      if (colour.descriptionPresent) {
        colour.primaries = int(r.bits(8));
        colour.transfer = int(r.bits(8));
        colour.matrix = int(r.bits(8));
      }
    }
  }
  if (r.overrun) return std::nullopt;
  return colour;
}

} // namespace dravnok::video::testing
