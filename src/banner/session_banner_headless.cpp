// Until the banner windows exist, the banner only tracks whether it is shown.
#include "banner/session_banner.h"

#include <mutex>
#include <optional>

namespace dravnok {

struct SessionBanner::Impl {
  std::mutex mutex;
  std::optional<std::u16string> shownText;
};

SessionBanner::SessionBanner() : impl_(std::make_unique<Impl>()) {}
SessionBanner::~SessionBanner() { shutdown(); }

void SessionBanner::show(const std::u16string& text) {
  std::lock_guard lock(impl_->mutex);
  if (!impl_->shownText) impl_->shownText = text;
}

void SessionBanner::hide() {
  std::lock_guard lock(impl_->mutex);
  impl_->shownText.reset();
}

void SessionBanner::shutdown() { hide(); }

} // namespace dravnok
