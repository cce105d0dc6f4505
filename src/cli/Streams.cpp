// src/cli/Streams.cpp
#include "cli/Streams.h"

#include <cerrno>
#include <charconv>
#include <utility>

#include "cli/Text.h"
#include "core/res/Cp1250.h"
#include "platform/Socket.h"

namespace {

// Without the characters of `ending` at its end.
std::string TrimEnd(std::string text, std::string_view ending) {
    text.erase(text.find_last_not_of(ending) + 1);
    return text;
}

// Without the line break some systems end their texts with.
std::string WithoutLineEnd(std::string text) {
    return TrimEnd(std::move(text), "\n\r ");
}

// The system's text without the line break and full stop some systems end it with.
std::string SystemText(int code) {
    const std::string text = TrimEnd(platform::SocketErrorMessage(code), "\n\r .");
    return text.empty() ? "unknown error" : text;
}

// The code and text of a socket error box ("Operation errorcode: N\r\n<text>").
std::optional<ErrorStream::SystemFailure> BoxFailure(const std::string& text) {
    constexpr std::string_view kMarker = " errorcode: ";
    const size_t marker = text.find(kMarker);
    if (marker == std::string::npos) {
        return std::nullopt;
    }
    const size_t digits = marker + kMarker.size();
    const size_t end = text.find("\r\n", digits);
    int code = 0;
    if (end == std::string::npos ||
        std::from_chars(text.data() + digits, text.data() + end, code).ptr != text.data() + end) {
        return std::nullopt;
    }
    return ErrorStream::SystemFailure{code, WithoutLineEnd(cp1250::ToUtf8(text.substr(end + 2)))};
}

}  // namespace

bool Output::Write(const std::string& text) {
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), m_stream) != text.size() ||
        std::fflush(m_stream) != 0) {
        m_error = errno;
        return false;
    }
    return true;
}

bool Output::Closed() const {
    return m_error == EPIPE;
}

void ErrorStream::Error(const std::string& text) {
    Line("error", text);
}

void ErrorStream::SystemError(const std::string& what, int code) {
    const std::string text = SystemText(code);
    Line("error", what + ": " + text + " (system error " + std::to_string(code) + ")",
         SystemFailure{code, text});
}

void ErrorStream::Warning(std::string_view category, std::string_view text) {
    Line("warning", std::string(text), std::nullopt, category);
}

void ErrorStream::Line(const char* event, const std::string& text,
                       const std::optional<SystemFailure>& failure, std::string_view category) {
    std::string line;
    if (m_clock == nullptr) {
        line = "murmex3-cli: " + (category.empty() ? text : std::string(category) + ": " + text);
    } else {
        line = "{\"time\":" + std::to_string(m_clock->NowSeconds()) +
               ",\"event\":" + clitext::JsonString(event);
        if (!category.empty()) {
            line += ",\"category\":" + clitext::JsonString(category);
        }
        line += ",\"text\":" + clitext::JsonString(text);
        if (failure) {
            line += ",\"code\":" + std::to_string(failure->code) +
                    ",\"systemText\":" + clitext::JsonString(failure->text);
        }
        line += "}";
    }
    line += "\n";
    std::fwrite(line.data(), 1, line.size(), m_stream);
    std::fflush(m_stream);
}

void ErrorPresenter::ShowMessage(const std::string& /*caption*/, const std::string& text,
                                 BoxIcon /*icon*/) {
    ++m_failures;
    std::string plain = WithoutLineEnd(cp1250::ToUtf8(text));
    for (size_t at = plain.find("\r\n"); at != std::string::npos; at = plain.find("\r\n", at)) {
        plain.replace(at, 2, ": ");
    }
    for (char& c : plain) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    std::string line = m_context.empty() ? plain : m_context + ": " + plain;
    if (line == m_lastLine) {
        return;
    }
    m_lastLine = line;
    m_errors.Line("error", line, BoxFailure(text));
}

void ErrorLogSink::Write(LogLevel level, std::string_view category, std::string_view text) {
    if (level == LogLevel::Warning) {
        m_errors.Warning(category, text);
    }
}
