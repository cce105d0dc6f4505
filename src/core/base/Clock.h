// src/core/base/Clock.h
#pragma once

#include <cstdint>

// Calendar time in whole seconds. Injected wherever a rule depends on time.
struct Clock {
    virtual ~Clock() = default;
    virtual int64_t NowSeconds() const = 0;
};

class SystemClock final : public Clock {
public:
    int64_t NowSeconds() const override;
};
