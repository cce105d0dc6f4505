// src/platform/win32/LastInputWin32.cpp
#include <windows.h>

#include "platform/LastInput.h"

namespace platform {
namespace {

using GetLastInputInfoFn = BOOL(WINAPI*)(PLASTINPUTINFO);

// GetLastInputInfo, looked up once at run time: older systems lack it.
GetLastInputInfoFn LastInputInfoEntry() {
    static const GetLastInputInfoFn entry = [] {
        const HMODULE user32 = ::LoadLibraryA("User32");
        if (user32 == nullptr) {
            return GetLastInputInfoFn{nullptr};
        }
        const FARPROC proc = ::GetProcAddress(user32, "GetLastInputInfo");
        return reinterpret_cast<GetLastInputInfoFn>(reinterpret_cast<void (*)()>(proc));
    }();
    return entry;
}

}  // namespace

uint32_t TickCount() {
    return static_cast<uint32_t>(::GetTickCount());
}

bool SystemTellsLastInput() {
    return LastInputInfoEntry() != nullptr;
}

std::optional<uint32_t> LastInputTick() {
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

}  // namespace platform
