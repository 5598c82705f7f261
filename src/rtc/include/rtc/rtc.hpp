#pragma once
#include "rtc/global.hpp"
