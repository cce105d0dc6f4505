// src/core/base/Log.h
#pragma once

#include <string_view>

// Where the core reports what it cannot show: a failure nobody is told about in a
// box (a goodbye that could not be sent, a box dropped by a gate). The desktop
// program forwards it to its own logging; without a sink, warnings go to standard
// error and debug lines are dropped. Texts are UTF-8.
enum class LogLevel { Debug, Warning };

struct LogSink {
    virtual ~LogSink() = default;
    virtual void Write(LogLevel level, std::string_view category, std::string_view text) = 0;
};

namespace corelog {

// Installs the sink for the whole process; null restores the default. The sink
// must outlive every thread that logs.
void SetSink(LogSink* sink);
void Write(LogLevel level, std::string_view category, std::string_view text);
inline void Warning(std::string_view category, std::string_view text) {
    Write(LogLevel::Warning, category, text);
}
inline void Debug(std::string_view category, std::string_view text) {
    Write(LogLevel::Debug, category, text);
}

}  // namespace corelog
