#pragma once
// ScreenCapturer and CapturedFrame of the platform being built.
#ifdef _WIN32
#include "capture/win32/screen_capturer.h"
#else
#include "capture/x11/screen_capturer.h"
#endif
