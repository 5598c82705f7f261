#include "video/conversion_pool.h"

#include <windows.h>

namespace dravnok::video {
namespace {

// One work object of the process thread pool, submitted once per helper.
class ThreadpoolConversionPool final : public ConversionPool {
public:
  explicit ThreadpoolConversionPool(int helpers) : helpers(helpers) {
    work = CreateThreadpoolWork(&ThreadpoolConversionPool::callback, this, nullptr);
  }

  ~ThreadpoolConversionPool() override {
    if (!work) return;
    WaitForThreadpoolWorkCallbacks(work, TRUE);
    CloseThreadpoolWork(work);
  }

  bool valid() const { return work != nullptr; }

  void runOnAll(const std::function<void()>& task) override {
    current = &task;
    for (int i = 0; i < helpers; ++i) SubmitThreadpoolWork(work);
    task();
    WaitForThreadpoolWorkCallbacks(work, FALSE);
    current = nullptr;
  }

private:
  static void CALLBACK callback(PTP_CALLBACK_INSTANCE, void* context, PTP_WORK) {
    auto* self = static_cast<ThreadpoolConversionPool*>(context);
    (*self->current)();
  }

  int helpers;
  PTP_WORK work = nullptr;
  const std::function<void()>* current = nullptr;
};

} // namespace

std::unique_ptr<ConversionPool> ConversionPool::create(int helpers) {
  auto pool = std::make_unique<ThreadpoolConversionPool>(helpers);
  if (!pool->valid()) return nullptr;
  return pool;
}

} // namespace dravnok::video
