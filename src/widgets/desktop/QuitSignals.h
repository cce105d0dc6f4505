// src/widgets/desktop/QuitSignals.h
#pragma once

#include <QObject>
#include <functional>

namespace platform {

// Calls the handler on the context's thread when the process is asked to end
// (SIGTERM, SIGINT and SIGHUP on POSIX; a console close on Windows).
void InstallQuitHandler(QObject* context, std::function<void()> handler);

}  // namespace platform
