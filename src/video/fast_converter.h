#pragma once
// The fast BGRA to NV12 conversion: integer arithmetic, vectorised rows,
// chroma row bands shared between the calling thread and a pool.
#include "common/nearest_maps.h"
#include "video/column_windows.h"
#include "video/conversion_pool.h"
#include "video/nv12_rows.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace dravnok::video {

class FastConverter {
public:
  // `threads` counts the calling thread; above 1 a pool is made, and when
  // that fails the conversion runs on the calling thread alone.
  explicit FastConverter(int threads, SimdLevel level = detectSimdLevel());

  int threads() const { return threadCount; }
  SimdLevel simdLevel() const { return level; }

  // Scales by nearest neighbour to outputWidth x outputHeight (even, at
  // least 2) and writes the NV12 picture to `dest`.
  void convert(const uint8_t* source, int32_t pitch, uint32_t sourceWidth, uint32_t sourceHeight, int outputWidth,
               int outputHeight, uint8_t* dest);

private:
  struct Job {
    const uint8_t* source = nullptr;
    int32_t pitch = 0;
    int width = 0;
    int height = 0;
    int chromaRows = 0;
    int chunks = 1;
    uint8_t* dest = nullptr;
    std::atomic<int32_t> nextChunk{0};
  };

  void convertChunks();
  void convertChromaRow(int row, uint8_t* scratch);

  int threadCount;
  SimdLevel level;
  RowKernels kernels;
  std::unique_ptr<ConversionPool> pool;
  NearestMaps maps;
  // Built with the maps when this level reads scaled rows through windows.
  ColumnWindows windows;
  Job job;
};

} // namespace dravnok::video
