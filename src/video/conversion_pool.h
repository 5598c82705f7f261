#pragma once
// Helper threads that share one conversion with the calling thread.
#include <functional>
#include <memory>

namespace dravnok::video {

class ConversionPool {
public:
  // A pool with `helpers` threads; null when the platform cannot make one.
  static std::unique_ptr<ConversionPool> create(int helpers);
  virtual ~ConversionPool() = default;
  // Runs `task` once on each helper and once on the calling thread, and
  // returns when every run has finished.
  virtual void runOnAll(const std::function<void()>& task) = 0;
};

} // namespace dravnok::video
