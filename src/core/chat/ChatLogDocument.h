// src/core/chat/ChatLogDocument.h
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/base/Presenter.h"
#include "core/peers/History.h"

// The conversation log as one RTF document: the fixed header, one paragraph per
// history entry, and the closing brace. Sender, computer name and text are code
// page 1250 bytes copied unchanged except for the escapes \\, \{ and \}. An entry
// of an unknown kind is skipped after the internal-error box "RichD 1, val %i".
std::string BuildChatLogDocument(const std::vector<HistoryEntry>& history,
                                 std::string_view computerName, MessagePresenter& presenter);

// Holds a document while a rich-edit control streams it in, handing it over
// from the front.
class LogStream {
public:
    explicit LogStream(std::string document) : m_document(std::move(document)) {}

    // Stream-in callback: copies min(left, requested) bytes to buffer and drops
    // them from the front; requested <= 0 delivers 0. Always returns 0.
    int32_t ReadLogStream(uint8_t* buffer, int32_t requested, int32_t& delivered);

    size_t Remaining() const { return m_document.size() - m_offset; }

private:
    std::string m_document;
    size_t m_offset = 0;
};
