// src/core/base/Clock.cpp
#include "core/base/Clock.h"

#include <chrono>

int64_t SystemClock::NowSeconds() const {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}
