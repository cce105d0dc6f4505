// src/core/chat/ChatLogDocument.cpp
#include "core/chat/ChatLogDocument.h"

#include "core/res/Strings.h"

namespace {

constexpr std::string_view kHeader =
    "{\\rtf1\\ansi\\ansicpg1250\\deff0\\deflang1029"
    "{\\fonttbl{\\f0\\fswiss\\fcharset238{\\*\\fname Arial;}Arial CE;}}"
    "{\\colortbl ;\\red0\\green0\\blue255;\\red0\\green0\\blue128;\\red255\\green0\\blue0;"
    "\\red0\\green128\\blue0;}"
    "\\viewkind4\\uc1\\pard\\f0\\fs20";

constexpr std::string_view kIncomingStart = "\\cf1";
constexpr std::string_view kIncomingMiddle = ": \\cf0\\b";
constexpr std::string_view kIncomingEnd = "\\b0\\cf0\\par ";
constexpr std::string_view kOutgoingStart = "\\cf2";
constexpr std::string_view kOutgoingMiddle = ": \\cf0\\i";
constexpr std::string_view kOutgoingEnd = "\\i0\\cf0\\par ";
constexpr std::string_view kRemovedStart = "\\cf3 ";
constexpr std::string_view kRemovedEnd = "\\cf0\\par ";

// Longest fixed part of one entry: start, "@", middle, marker, blank, end.
constexpr size_t kEntryOverhead = 4 + 1 + 1 + 8 + 4 + 1 + 12;

// Appends text with the RTF-reserved characters escaped; the bytes between two
// reserved characters go in as one run.
void AppendEscaped(std::string& out, std::string_view text) {
    const char* run = text.data();
    const char* const end = run + text.size();
    for (const char* p = run; p != end; ++p) {
        if (*p == '\\' || *p == '{' || *p == '}') {
            out.append(run, p);
            out.push_back('\\');
            run = p;  // the reserved character starts the next run
        }
    }
    out.append(run, end);
}

// The sender follows the colour word directly. A sender that begins with a
// digit or a blank would be read as part of that word, so it gets the word's
// delimiter blank first (which a reader drops).
void AppendSender(std::string& out, std::string_view sender) {
    if (!sender.empty() &&
        ((sender.front() >= '0' && sender.front() <= '9') || sender.front() == ' ')) {
        out.push_back(' ');
    }
    AppendEscaped(out, sender);
}

}  // namespace

MarkedText SplitLogMark(std::string_view text) {
    if (!text.empty() && (text.front() == '!' || text.front() == '*')) {
        return {text.front() == '!' ? LogMark::Red : LogMark::Green, text.substr(1)};
    }
    return {LogMark::None, text};
}

std::string BuildChatLogDocument(const std::vector<HistoryEntry>& history,
                                 std::string_view computerName, MessagePresenter& presenter,
                                 bool olderRemoved) {
    const std::string& removed = res::String(res::kStrOlderMessagesRemoved);
    size_t estimate =
        kHeader.size() + 1 + kRemovedStart.size() + removed.size() + kRemovedEnd.size();
    for (const HistoryEntry& entry : history) {
        estimate += entry.sender.size() + entry.text.size() + kEntryOverhead;
        if (entry.kind == Outgoing) {
            estimate += computerName.size();
        }
    }
    std::string out;
    out.reserve(estimate + estimate / 16);  // room for a few escapes
    out.append(kHeader);
    if (olderRemoved) {
        out.append(kRemovedStart);
        AppendEscaped(out, removed);
        out.append(kRemovedEnd);
    }

    for (const HistoryEntry& entry : history) {
        if (entry.kind != Incoming && entry.kind != Outgoing) {
            ShowTraceCode(presenter, "RichD 1, val %i", entry.kind);
            continue;
        }
        const MarkedText text = SplitLogMark(entry.text);

        if (entry.kind == Incoming) {
            out.append(kIncomingStart);
            AppendSender(out, entry.sender);
            out.append(kIncomingMiddle);
        } else {
            out.append(kOutgoingStart);
            AppendSender(out, entry.sender);
            out.push_back('@');
            AppendEscaped(out, computerName);
            out.append(kOutgoingMiddle);
        }
        if (text.mark != LogMark::None) {
            out.append(text.mark == LogMark::Red ? "\\cf3" : "\\cf4");
        }
        out.push_back(' ');
        AppendEscaped(out, text.shown);
        out.append(entry.kind == Incoming ? kIncomingEnd : kOutgoingEnd);
    }

    out.push_back('}');
    return out;
}
