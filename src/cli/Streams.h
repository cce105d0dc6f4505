// src/cli/Streams.h
#pragma once

#include <cstdio>
#include <string>

#include "core/base/Log.h"
#include "core/base/Presenter.h"

// Standard output, one flushed write per line or block, so a pipe or a
// service's journal gets each line as it happens.
class Output {
public:
    explicit Output(std::FILE* stream) : m_stream(stream) {}
    // False (and the system's code in Error()) when the stream refused it.
    bool Write(const std::string& text);
    int Error() const { return m_error; }

private:
    std::FILE* m_stream;
    int m_error = 0;
};

// "murmex3-cli: <text>" on standard error.
void PrintError(const std::string& text);
// "<what>: <the system's text> (system error <code>)".
std::string SystemError(const std::string& what, int code);

// The boxes of the core as lines on standard error: the endpoint's failures
// (with what was being done when one came) and trace codes. The same line
// twice in a row is printed once. Counts what it was shown.
class ErrorPresenter final : public MessagePresenter {
public:
    void ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) override;
    // What the next failure is about, such as "cannot send the message to 10.0.0.2".
    void SetContext(std::string context) { m_context = std::move(context); }
    int Failures() const { return m_failures; }

private:
    std::string m_context;
    std::string m_lastLine;
    int m_failures = 0;
};

// The core's log as lines on standard error; debug lines are dropped.
class ErrorLogSink final : public LogSink {
public:
    void Write(LogLevel level, std::string_view category, std::string_view text) override;
};
