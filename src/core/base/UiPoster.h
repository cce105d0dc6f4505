// src/core/base/UiPoster.h
#pragma once

#include <functional>

// Runs closures on the user-interface thread, in the order posted. The widgets
// post through the event loop; tests keep a queue and drain it themselves.
struct UiPoster {
    virtual ~UiPoster() = default;
    virtual void Post(std::function<void()> task) = 0;
    virtual bool OnUiThread() const = 0;
};
