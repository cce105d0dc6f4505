// src/widgets/adapters/Logging.cpp
#include "widgets/adapters/Logging.h"

#include <QString>

Q_LOGGING_CATEGORY(lcNet, "murmex3.net", QtWarningMsg)
Q_LOGGING_CATEGORY(lcUi, "murmex3.ui", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSound, "murmex3.sound", QtWarningMsg)
Q_LOGGING_CATEGORY(lcIdle, "murmex3.idle", QtWarningMsg)
Q_LOGGING_CATEGORY(lcExit, "murmex3.exit", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSettings, "murmex3.settings", QtWarningMsg)
Q_LOGGING_CATEGORY(lcCore, "murmex3.core", QtWarningMsg)

namespace platform {
namespace {

const QLoggingCategory& CategoryOf(std::string_view name) {
    if (name == "net") {
        return lcNet();
    }
    if (name == "ui") {
        return lcUi();
    }
    if (name == "sound") {
        return lcSound();
    }
    if (name == "idle") {
        return lcIdle();
    }
    if (name == "exit") {
        return lcExit();
    }
    return lcCore();
}

}  // namespace

void QtLogSink::Write(LogLevel level, std::string_view category, std::string_view text) {
    const QLoggingCategory& target = CategoryOf(category);
    const QString line = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    QMessageLogger logger(nullptr, 0, nullptr, target.categoryName());
    if (level == LogLevel::Warning) {
        if (target.isWarningEnabled()) {
            logger.warning().noquote() << line;
        }
    } else if (target.isDebugEnabled()) {
        logger.debug().noquote() << line;
    }
}

void InstallQtLogSink() {
    // Lives as long as the process: the worker threads may log until they end.
    static QtLogSink sink;
    corelog::SetSink(&sink);
}

}  // namespace platform
