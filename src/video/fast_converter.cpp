#include "video/fast_converter.h"

#include "video/legacy_converter.h"

#include <algorithm>
#include <vector>

namespace dravnok::video {

FastConverter::FastConverter(int threads, SimdLevel level)
    : threadCount(std::clamp(threads, 1, 8)), level(level), kernels(rowKernelsFor(level)) {
  if (threadCount > 1) pool = ConversionPool::create(threadCount - 1);
  if (!pool) threadCount = 1;
}

void FastConverter::convert(const uint8_t* source, int32_t pitch, uint32_t sourceWidth, uint32_t sourceHeight,
                            int outputWidth, int outputHeight, uint8_t* dest) {
  const int width = evenAtLeastTwo(outputWidth);
  const int height = evenAtLeastTwo(outputHeight);
  if (!source || !dest || sourceWidth == 0 || sourceHeight == 0) return;
  const auto previousKey = maps.key;
  maps.update(sourceWidth, sourceHeight, width, height);
  if (maps.key != previousKey) {
    windows =
        kernels.mapped && !maps.columnsAreIdentity() ? buildColumnWindows(maps.columns, sourceWidth) : ColumnWindows{};
  }
  job.source = source;
  job.pitch = pitch;
  job.width = width;
  job.height = height;
  job.chromaRows = height / 2;
  job.chunks = pool ? 2 * threadCount : 1;
  job.dest = dest;
  job.nextChunk.store(0);
  if (pool) {
    pool->runOnAll([this] { convertChunks(); });
  } else {
    convertChunks();
  }
}

void FastConverter::convertChunks() {
  // Gathered rows of a scaled source, when the rows are not read through windows.
  std::vector<uint8_t> scratch;
  if (!maps.columnsAreIdentity() && windows.loads == 0) scratch.resize(static_cast<size_t>(job.width) * 8);
  const int64_t rows = job.chromaRows, chunks = job.chunks;
  for (int64_t k = job.nextChunk.fetch_add(1); k < chunks; k = job.nextChunk.fetch_add(1)) {
    const int first = static_cast<int>(k * rows / chunks);
    const int end = static_cast<int>((k + 1) * rows / chunks);
    for (int row = first; row < end; ++row) convertChromaRow(row, scratch.data());
  }
}

void FastConverter::convertChromaRow(int row, uint8_t* scratch) {
  const int width = job.width;
  const int32_t sourceTop = maps.rows[2 * row], sourceBottom = maps.rows[2 * row + 1];
  const uint8_t* top = job.source + static_cast<ptrdiff_t>(sourceTop) * job.pitch;
  const uint8_t* bottom = job.source + static_cast<ptrdiff_t>(sourceBottom) * job.pitch;
  uint8_t* luma = job.dest + static_cast<size_t>(2 * row) * width;
  uint8_t* chroma = job.dest + static_cast<size_t>(job.height) * width + static_cast<size_t>(row) * width;
  if (windows.loads != 0) {
    kernels.mapped(top, bottom, windows, width, luma, luma + width, chroma);
    return;
  }
  if (!maps.columnsAreIdentity()) {
    kernels.gather(top, maps.columns.data(), width, scratch);
    top = scratch;
    if (sourceBottom != sourceTop) {
      kernels.gather(bottom, maps.columns.data(), width, scratch + static_cast<size_t>(width) * 4);
      bottom = scratch + static_cast<size_t>(width) * 4;
    } else {
      bottom = top;
    }
  }
  kernels.convert(top, bottom, width, luma, luma + width, chroma);
}

} // namespace dravnok::video
