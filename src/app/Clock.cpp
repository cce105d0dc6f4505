// src/app/Clock.cpp
#include "app/Clock.h"

#include <chrono>

int64_t SystemClock::NowSeconds() const {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}
