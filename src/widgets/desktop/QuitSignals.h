// src/widgets/desktop/QuitSignals.h
#pragma once

#include <QObject>
#include <functional>

namespace platform {

// Calls the handler on the context's thread when the process is asked to end
// (platform/QuitRequests.h). Call on the context's thread. A null context or
// an empty handler removes the handler; the requests then end the process
// again, as they also do once the context is destroyed.
void InstallQuitHandler(QObject* context, std::function<void()> handler);

}  // namespace platform
