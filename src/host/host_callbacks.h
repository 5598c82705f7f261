#pragma once
#include "banner/session_banner.h"
#include "host/control_loop.h"
#include "session/host_callbacks.h"

namespace dravnok::host {

// The banner text for a viewer: their name and " — remote support session",
// or a general text when the name is empty.
std::u16string bannerTextFor(const std::string& viewerName);

// The four callbacks through which the session writes events and logs.
HostCallbacks makeHostCallbacks(HostState& state, SessionBanner& banner);

} // namespace dravnok::host
