// src/cli/Streams.cpp
#include "cli/Streams.h"

#include <cerrno>

#include "core/res/Cp1250.h"
#include "platform/Socket.h"

bool Output::Write(const std::string& text) {
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), m_stream) != text.size() ||
        std::fflush(m_stream) != 0) {
        m_error = errno;
        return false;
    }
    return true;
}

void PrintError(const std::string& text) {
    const std::string line = "murmex3-cli: " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

std::string SystemError(const std::string& what, int code) {
    std::string text = platform::SocketErrorMessage(code);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                             text.back() == '.')) {
        text.pop_back();
    }
    return what + ": " + (text.empty() ? "unknown error" : text) + " (system error " +
           std::to_string(code) + ")";
}

void ErrorPresenter::ShowMessage(const std::string& /*caption*/, const std::string& text,
                                 BoxIcon /*icon*/) {
    ++m_failures;
    std::string plain = cp1250::ToUtf8(text);
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
    PrintError(line);
}

void ErrorLogSink::Write(LogLevel level, std::string_view category, std::string_view text) {
    if (level == LogLevel::Warning) {
        PrintError(std::string(category) + ": " + std::string(text));
    }
}
