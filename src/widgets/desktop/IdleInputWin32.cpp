// src/widgets/desktop/IdleInputWin32.cpp
#include <windows.h>

#include <optional>

#include "widgets/desktop/IdleInput.h"

namespace platform {
namespace {

using GetLastInputInfoFn = BOOL(WINAPI*)(PLASTINPUTINFO);

// GetLastInputInfo, looked up once at run time: older systems lack it.
GetLastInputInfoFn LastInputInfoEntry() {
    static const GetLastInputInfoFn entry = [] {
        const HMODULE user32 = LoadLibraryA("User32");
        if (user32 == nullptr) {
            return GetLastInputInfoFn{nullptr};
        }
        const FARPROC proc = GetProcAddress(user32, "GetLastInputInfo");
        return reinterpret_cast<GetLastInputInfoFn>(reinterpret_cast<void (*)()>(proc));
    }();
    return entry;
}

std::optional<uint32_t> SystemLastInputTick() {
    const GetLastInputInfoFn getLastInputInfo = LastInputInfoEntry();
    if (getLastInputInfo == nullptr) {
        return std::nullopt;
    }
    LASTINPUTINFO info{};
    info.cbSize = sizeof info;
    if (!getLastInputInfo(&info)) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(info.dwTime);
}

class Win32IdleInputProbe final : public IdleInputProbe {
public:
    std::optional<uint32_t> LastInputTick() const override { return SystemLastInputTick(); }
    uint32_t TickCount() const override { return platform::TickCount(); }
};

}  // namespace

uint32_t TickCount() {
    return static_cast<uint32_t>(GetTickCount());
}

std::unique_ptr<IdleInputProbe> MakeIdleInputProbe() {
    if (LastInputInfoEntry() == nullptr) {
        return nullptr;
    }
    return std::make_unique<Win32IdleInputProbe>();
}

}  // namespace platform
