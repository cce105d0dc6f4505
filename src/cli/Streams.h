// src/cli/Streams.h
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "core/base/Clock.h"
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
    // The reader has gone (a pipe closed, as by `head -1`): nobody wants more.
    bool Closed() const;

private:
    std::FILE* m_stream;
    int m_error = 0;
};

// Standard error: "murmex3-cli: <text>" lines, or after UseJson() one JSON
// object a line, so that a journal that holds both streams stays JSON:
// {"time":N,"event":"error","text":..} with "code" and "systemText" where the
// system gave them, and {"time":N,"event":"warning","category":..,"text":..}
// for the core's log.
class ErrorStream {
public:
    explicit ErrorStream(std::FILE* stream) : m_stream(stream) {}
    // From now on JSON, timed by the clock, which must outlive this.
    void UseJson(const Clock& clock) { m_clock = &clock; }

    void Error(const std::string& text);
    // "<what>: <the system's text> (system error <code>)".
    void SystemError(const std::string& what, int code);
    void Warning(std::string_view category, std::string_view text);

    struct SystemFailure {
        int code = 0;
        std::string text;
    };
    // `text` is the whole plain line; the failure adds its fields to JSON.
    void Line(const char* event, const std::string& text,
              const std::optional<SystemFailure>& failure = std::nullopt,
              std::string_view category = {});

private:
    std::FILE* m_stream;
    const Clock* m_clock = nullptr;
};

// The boxes of the core as lines on the error stream: the endpoint's failures
// (with what was being done when one came, and the system's code) and trace
// codes. The same line twice in a row is printed once. Counts what it was shown.
class ErrorPresenter final : public MessagePresenter {
public:
    explicit ErrorPresenter(ErrorStream& errors) : m_errors(errors) {}
    void ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) override;
    // What the next failure is about, such as "cannot send the message to 10.0.0.2".
    void SetContext(std::string context) { m_context = std::move(context); }
    int Failures() const { return m_failures; }

private:
    ErrorStream& m_errors;
    std::string m_context;
    std::string m_lastLine;
    int m_failures = 0;
};

// The core's log as warnings on the error stream; debug lines are dropped.
class ErrorLogSink final : public LogSink {
public:
    explicit ErrorLogSink(ErrorStream& errors) : m_errors(errors) {}
    void Write(LogLevel level, std::string_view category, std::string_view text) override;

private:
    ErrorStream& m_errors;
};
