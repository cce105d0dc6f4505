// src/core/settings/UserStatus.cpp
#include "core/settings/UserStatus.h"

#include "core/res/Strings.h"

std::string KnownStatusText(int16_t status) {
    switch (status) {
        case Ready:
            return res::String(res::kStrStatusReady);
        case Away:
            return res::String(res::kStrStatusAway);
        case DoNotDisturb:
            return res::String(res::kStrStatusDoNotDisturb);
        case AtLunch:
            return res::String(res::kStrStatusAtLunch);
        case Disconnected:
            return res::String(res::kStrStatusDisconnected);
        default:
            return {};
    }
}

std::string StatusShortText(int16_t status, MessagePresenter& presenter) {
    std::string text = KnownStatusText(status);
    if (text.empty()) {
        ShowTraceCode(presenter, "App 1, aSt %i", status);
    }
    return text;
}
