#pragma once
#include "rtc/common.hpp"
#include "rtc/global.hpp"
#include "rtc/mediahandler.hpp"
#include "rtc/message.hpp"
