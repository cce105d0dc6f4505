// src/widgets/desktop/DesktopNotificationsNone.cpp
// Systems whose notifications come from the tray alone.
#include "widgets/desktop/DesktopNotifications.h"

namespace platform {

std::unique_ptr<DesktopNotifications> MakeDesktopNotifications() {
    return nullptr;
}

}  // namespace platform
