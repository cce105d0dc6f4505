// src/widgets/desktop/IdleInputDBus.h
#pragma once

#include <QDBusConnection>
#include <memory>

#include "core/settings/InactivityWatch.h"

namespace platform {

// The session's idle time from a service on the given bus: GNOME's Mutter
// idle monitor, else the freedesktop screen saver (KDE and others). Null when
// neither answers. The probe asks again, in the background, when its last
// answer is older than refreshMs, and reports the last answer meanwhile; it
// knows nothing once the service stops answering.
std::unique_ptr<IdleInputProbe> MakeDBusIdleInputProbe(const QDBusConnection& bus,
                                                       uint32_t refreshMs = 1000);

}  // namespace platform
