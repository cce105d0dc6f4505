// src/widgets/adapters/Logging.h
#pragma once

#include <QLoggingCategory>

#include "core/base/Log.h"

// The program's log categories. Warnings show by default; the rest on request,
// e.g. QT_LOGGING_RULES="murmex3.*.debug=true". There is no log file.
Q_DECLARE_LOGGING_CATEGORY(lcNet)       // murmex3.net: the endpoint, boxes held back
Q_DECLARE_LOGGING_CATEGORY(lcUi)        // murmex3.ui: windows, tray, boxes
Q_DECLARE_LOGGING_CATEGORY(lcSound)     // murmex3.sound: event sounds
Q_DECLARE_LOGGING_CATEGORY(lcIdle)      // murmex3.idle: the inactivity watch's probe
Q_DECLARE_LOGGING_CATEGORY(lcExit)      // murmex3.exit: what an exit did not show
Q_DECLARE_LOGGING_CATEGORY(lcSettings)  // murmex3.settings: the settings file

namespace platform {

// Hands the core's log lines to Qt's logging: the core's category "net" to
// murmex3.net and so on; a category without a counterpart to murmex3.core.
class QtLogSink final : public LogSink {
public:
    void Write(LogLevel level, std::string_view category, std::string_view text) override;
};

// Connects the core's log to Qt's for the rest of the process.
void InstallQtLogSink();

}  // namespace platform
