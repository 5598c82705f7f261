#include "banner/session_banner.h"

namespace dravnok {

SessionBanner::SessionBanner() : SessionBanner(makeBannerWindowThread()) {}

SessionBanner::SessionBanner(std::unique_ptr<BannerWindowThread> window) : window_(std::move(window)) {}

SessionBanner::~SessionBanner() { shutdown(); }

void SessionBanner::show(const std::u16string& text) {
  std::lock_guard lock(lifecycleMutex_);
  if (running_.exchange(true)) return;
  try {
    // A thread that gave up by itself (no display, no window) has cleared
    // the flag but still needs joining before a new one can start.
    if (bannerThread_.joinable()) {
      bannerThread_.join();
      window_->joined();
    }
    text_ = text;
    width_ = 0;
    height_ = 0;
    bannerThread_ = std::thread([this] { window_->run(*this); });
  } catch (...) {
    // Not shown: a later show must try again.
    running_ = false;
    throw;
  }
}

void SessionBanner::hide() {
  std::lock_guard lock(lifecycleMutex_);
  if (!running_.exchange(false)) return;
  window_->wake();
  if (bannerThread_.joinable()) bannerThread_.join();
  window_->joined();
}

void SessionBanner::shutdown() {
  hide();
  std::lock_guard lock(lifecycleMutex_);
  if (bannerThread_.joinable()) {
    bannerThread_.join();
    window_->joined();
  }
}

void SessionBanner::setRenderedSize(int width, int height) {
  width_ = width;
  height_ = height;
}

} // namespace dravnok
