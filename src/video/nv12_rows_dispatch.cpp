#include "video/nv12_rows.h"

#include <vector>

namespace dravnok::video {
namespace {

bool cpuHasAvx2() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
  return false;
#endif
}

// Byte permutes and 16-bit dot products as well as the 512-bit basics.
bool cpuHasAvx512() {
#if defined(__x86_64__) || defined(__i386__)
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vnni");
#else
  return false;
#endif
}

std::vector<SimdLevel> probeLevels() {
  std::vector<SimdLevel> levels{SimdLevel::Scalar, SimdLevel::Sse2};
  if (cpuHasAvx2()) {
    levels.push_back(SimdLevel::Avx2);
    if (cpuHasAvx512()) levels.push_back(SimdLevel::Avx512);
  }
  return levels;
}

} // namespace

const char* simdLevelName(SimdLevel level) {
  switch (level) {
  case SimdLevel::Scalar:
    return "scalar";
  case SimdLevel::Sse2:
    return "sse2";
  case SimdLevel::Avx2:
    return "avx2";
  case SimdLevel::Avx512:
    return "avx512";
  }
  return "?";
}

std::span<const SimdLevel> supportedSimdLevels() {
  static const std::vector<SimdLevel> levels = probeLevels();
  return levels;
}

SimdLevel detectSimdLevel() { return supportedSimdLevels().back(); }

RowKernels rowKernelsFor(SimdLevel level) {
  switch (level) {
  case SimdLevel::Avx512:
    // Scaled rows keep the AVX2 windows, whose tables are built for 16-column steps.
    return {convertRowPairAvx512, gatherRowScalar, convertMappedRowPairAvx2};
  case SimdLevel::Avx2:
    return {convertRowPairAvx2, gatherRowScalar, convertMappedRowPairAvx2};
  case SimdLevel::Sse2:
    return {convertRowPairSse2, gatherRowScalar, nullptr};
  case SimdLevel::Scalar:
    break;
  }
  return {convertRowPairScalar, gatherRowScalar, nullptr};
}

} // namespace dravnok::video
