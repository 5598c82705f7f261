#pragma once
// The inner loop of the fast converter: two BGRA rows of equal width in, two
// luma rows and one interleaved chroma row out. One version per instruction
// set; all give the same bytes.
#include <cstdint>
#include <span>

namespace dravnok::video {

struct ColumnWindows;

enum class SimdLevel { Scalar, Sse2, Avx2, Avx512 };

const char* simdLevelName(SimdLevel level);
// The best level this CPU runs.
SimdLevel detectSimdLevel();
// The levels this CPU runs, from Scalar up.
std::span<const SimdLevel> supportedSimdLevels();

// `width` is even; `top` and `bottom` hold `width` BGRA pixels each.
using RowPairConverter = void (*)(const uint8_t* top, const uint8_t* bottom, int width, uint8_t* lumaTop,
                                  uint8_t* lumaBottom, uint8_t* chroma);
// The same for rows of a scaled source: `windows` says where each output
// column's pixel is.
using MappedRowPairConverter = void (*)(const uint8_t* top, const uint8_t* bottom, const ColumnWindows& windows,
                                        int width, uint8_t* lumaTop, uint8_t* lumaBottom, uint8_t* chroma);
// Copies the pixels `columns` (byte offsets) name from `row` into `out`.
using RowGatherer = void (*)(const uint8_t* row, const int32_t* columns, int width, uint8_t* out);

void convertRowPairScalar(const uint8_t* top, const uint8_t* bottom, int width, uint8_t* lumaTop, uint8_t* lumaBottom,
                          uint8_t* chroma);
void convertRowPairSse2(const uint8_t* top, const uint8_t* bottom, int width, uint8_t* lumaTop, uint8_t* lumaBottom,
                        uint8_t* chroma);
void convertRowPairAvx2(const uint8_t* top, const uint8_t* bottom, int width, uint8_t* lumaTop, uint8_t* lumaBottom,
                        uint8_t* chroma);
void convertRowPairAvx512(const uint8_t* top, const uint8_t* bottom, int width, uint8_t* lumaTop, uint8_t* lumaBottom,
                          uint8_t* chroma);
void convertMappedRowPairAvx2(const uint8_t* top, const uint8_t* bottom, const ColumnWindows& windows, int width,
                              uint8_t* lumaTop, uint8_t* lumaBottom, uint8_t* chroma);
void gatherRowScalar(const uint8_t* row, const int32_t* columns, int width, uint8_t* out);

// For the vector converters, whose quotients hold the value in their upper
// 16 bits and 0 in their lower 16 bits exactly on a halfway point: rewrites
// the outputs of one step of `columns` columns that sit on a halfway point
// with the double expressions. The quotients are in output order (chroma:
// U, V, U, V ...); `top` and `bottom` are the step's pixels.
void redoHalfwayPoints(const uint8_t* top, const uint8_t* bottom, int columns, const uint32_t* lumaTopQuotients,
                       const uint32_t* lumaBottomQuotients, const uint32_t* chromaQuotients, uint8_t* lumaTop,
                       uint8_t* lumaBottom, uint8_t* chroma);

struct RowKernels {
  RowPairConverter convert;
  RowGatherer gather;
  // Null when the level has none: scaled rows are then gathered first.
  MappedRowPairConverter mapped;
};
RowKernels rowKernelsFor(SimdLevel level);

} // namespace dravnok::video
