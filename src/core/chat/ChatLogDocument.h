// src/core/chat/ChatLogDocument.h
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/base/Presenter.h"
#include "core/peers/History.h"

// The colour mark of a log line: a text that begins with '!' shows the rest in
// red, one that begins with '*' the rest in green.
enum class LogMark { None, Red, Green };

struct MarkedText {
    LogMark mark = LogMark::None;
    std::string_view shown;  // the text without its mark character
};

MarkedText SplitLogMark(std::string_view text);

// The conversation log as one RTF document: the fixed header, one paragraph per
// history entry, and the closing brace. Sender, computer name and text are code
// page 1250 bytes copied unchanged except for the escapes \\, \{ and \}. An entry
// of an unknown kind is skipped after the internal-error box "RichD 1, val %i".
// When older entries of the history were removed, a red paragraph with the
// text "Starší zprávy byly odstraněny." comes first.
std::string BuildChatLogDocument(const std::vector<HistoryEntry>& history,
                                 std::string_view computerName, MessagePresenter& presenter,
                                 bool olderRemoved = false);
