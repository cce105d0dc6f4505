// src/core/base/Log.cpp
#include "core/base/Log.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

namespace corelog {
namespace {

std::atomic<LogSink*> g_sink{nullptr};

}  // namespace

void SetSink(LogSink* sink) {
    g_sink.store(sink);
}

void Write(LogLevel level, std::string_view category, std::string_view text) {
    if (LogSink* sink = g_sink.load()) {
        sink->Write(level, category, text);
        return;
    }
    if (level != LogLevel::Warning) {
        return;
    }
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::string line(category);
    line += ": ";
    line += text;
    line += '\n';
    std::fputs(line.c_str(), stderr);
}

}  // namespace corelog
