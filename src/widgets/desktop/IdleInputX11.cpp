// src/widgets/desktop/IdleInputX11.cpp
// Linux and other X11 systems: the session bus's idle monitors first, then
// the X server's screen saver extension.
#include <dlfcn.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/LastInput.h"
#include "widgets/adapters/Logging.h"
#include "widgets/desktop/IdleInput.h"
#include "widgets/desktop/IdleInputDBus.h"

namespace platform {
namespace {

// The few Xlib and XScreenSaver types used, as the libraries define them, so
// that neither their headers nor their link libraries are needed to build.
struct Display;
using Window = unsigned long;
struct ScreenSaverInfo {
    Window window;
    int state;
    int kind;
    unsigned long tilOrSince;
    unsigned long idle;  // milliseconds since the last input
    unsigned long eventMask;
};

using OpenDisplayFn = Display* (*)(const char*);
using CloseDisplayFn = int (*)(Display*);
using DefaultRootWindowFn = Window (*)(Display*);
using FreeFn = int (*)(void*);
using QueryExtensionFn = int (*)(Display*, int*, int*);
using AllocInfoFn = ScreenSaverInfo* (*)();
using QueryInfoFn = int (*)(Display*, Window, ScreenSaverInfo*);

template <typename Fn>
Fn Symbol(void* library, const char* name) {
    return reinterpret_cast<Fn>(dlsym(library, name));
}

// libX11 and libXss loaded at run time and a display connection of its own,
// closed with the query (the libraries stay loaded). Only under Qt's X11
// platform: on Wayland or offscreen an X server, if any, does not see the
// user's input.
class ScreenSaverQuery {
public:
    ScreenSaverQuery() {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || display[0] == '\0' ||
            QGuiApplication::platformName() != QLatin1String("xcb")) {
            qCDebug(lcIdle) << "No X11 display: the inactivity watch has no probe";
            return;
        }
        void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        void* xss = x11 != nullptr ? dlopen("libXss.so.1", RTLD_NOW | RTLD_LOCAL) : nullptr;
        if (xss == nullptr) {
            qCWarning(lcIdle) << "libX11 or libXss cannot be loaded:" << dlerror();
            return;
        }
        const auto openDisplay = Symbol<OpenDisplayFn>(x11, "XOpenDisplay");
        m_closeDisplay = Symbol<CloseDisplayFn>(x11, "XCloseDisplay");
        m_rootWindow = Symbol<DefaultRootWindowFn>(x11, "XDefaultRootWindow");
        m_free = Symbol<FreeFn>(x11, "XFree");
        const auto queryExtension = Symbol<QueryExtensionFn>(xss, "XScreenSaverQueryExtension");
        m_allocInfo = Symbol<AllocInfoFn>(xss, "XScreenSaverAllocInfo");
        m_queryInfo = Symbol<QueryInfoFn>(xss, "XScreenSaverQueryInfo");
        if (openDisplay == nullptr || m_closeDisplay == nullptr || m_rootWindow == nullptr ||
            m_free == nullptr || queryExtension == nullptr || m_allocInfo == nullptr ||
            m_queryInfo == nullptr) {
            qCWarning(lcIdle) << "libXss lacks the screen saver query";
            return;
        }
        m_display = openDisplay(display);
        if (m_display == nullptr) {
            qCWarning(lcIdle) << "Cannot open the X display" << display;
            return;
        }
        int eventBase = 0;
        int errorBase = 0;
        if (queryExtension(m_display, &eventBase, &errorBase) == 0) {
            qCWarning(lcIdle) << "The X server has no screen saver extension";
            return;
        }
        m_available = IdleMilliseconds().has_value();
    }

    ScreenSaverQuery(const ScreenSaverQuery&) = delete;
    ScreenSaverQuery& operator=(const ScreenSaverQuery&) = delete;
    ~ScreenSaverQuery() {
        if (m_display != nullptr && m_closeDisplay != nullptr) {
            m_closeDisplay(m_display);
        }
    }

    bool Available() const { return m_available; }

    std::optional<uint32_t> IdleMilliseconds() const {
        const std::lock_guard<std::mutex> lock(m_mutex);
        ScreenSaverInfo* info = m_allocInfo();
        if (info == nullptr) {
            return std::nullopt;
        }
        std::optional<uint32_t> idle;
        if (m_queryInfo(m_display, m_rootWindow(m_display), info) != 0) {
            idle = static_cast<uint32_t>(info->idle);
        }
        m_free(info);
        return idle;
    }

private:
    Display* m_display = nullptr;
    CloseDisplayFn m_closeDisplay = nullptr;
    DefaultRootWindowFn m_rootWindow = nullptr;
    FreeFn m_free = nullptr;
    AllocInfoFn m_allocInfo = nullptr;
    QueryInfoFn m_queryInfo = nullptr;
    bool m_available = false;
    mutable std::mutex m_mutex;  // Xlib is not thread-safe on one display
};

class X11IdleInputProbe final : public IdleInputProbe {
public:
    explicit X11IdleInputProbe(std::unique_ptr<ScreenSaverQuery> query)
        : m_query(std::move(query)) {}

    // Tick count of the last input as the X server tells it.
    std::optional<uint32_t> LastInputTick() const override {
        const std::optional<uint32_t> idle = m_query->IdleMilliseconds();
        if (!idle) {
            return std::nullopt;
        }
        return static_cast<uint32_t>(platform::TickCount() - *idle);
    }
    uint32_t TickCount() const override { return platform::TickCount(); }

private:
    std::unique_ptr<ScreenSaverQuery> m_query;
};

// Platforms that show no windows to a user have no input to watch.
bool IsDesktopPlatform() {
    const QString name = QGuiApplication::platformName();
    return name != QLatin1String("offscreen") && name != QLatin1String("minimal");
}

}  // namespace

std::unique_ptr<IdleInputProbe> MakeIdleInputProbe() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr ||
        !IsDesktopPlatform()) {
        return nullptr;
    }
    // The session bus's idle monitors also serve Wayland sessions.
    if (auto probe = MakeDBusIdleInputProbe(QDBusConnection::sessionBus())) {
        return probe;
    }
    auto query = std::make_unique<ScreenSaverQuery>();
    if (!query->Available()) {
        return nullptr;
    }
    qCDebug(lcIdle) << "Idle time from the X server";
    return std::make_unique<X11IdleInputProbe>(std::move(query));
}

}  // namespace platform
