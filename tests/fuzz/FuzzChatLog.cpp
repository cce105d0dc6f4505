// tests/fuzz/FuzzChatLog.cpp
// The conversation log: its RTF reader on any bytes, and its writer and reader
// together on any history.
//
// Input: a mode byte, then
// - mode bit 0 clear: a document for ReadRtf as it stands;
// - mode bit 0 set: NUL-separated pieces, the first the computer name, each
//   further one an entry: a kind byte (1 incoming, 2 outgoing, any other value
//   an unknown kind), a sender length byte, the sender, and the text.
// The log is built, streamed out in slices of the mode's size and read back:
// one paragraph per known entry, reading as the sender (with "@" and the
// computer name for outgoing entries), ": " and the text, line breaks dropped,
// a leading '!' or '*' turned into the text's colour.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/Fakes.h"
#include "core/chat/ChatLogDocument.h"
#include "core/chat/RtfReader.h"
#include "core/peers/PeerDirectory.h"

namespace {

constexpr uint32_t kBlue = 0x0000FF;
constexpr uint32_t kNavy = 0x000080;
constexpr uint32_t kRed = 0xFF0000;
constexpr uint32_t kGreen = 0x008000;

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// What any document may give: bounded text, only real runs, colours that fit.
void CheckReadable(std::string_view document, const std::vector<RtfParagraph>& paragraphs) {
    size_t textBytes = 0;
    for (const RtfParagraph& paragraph : paragraphs) {
        for (const RtfRun& run : paragraph.runs) {
            Require(!run.text.empty());
            Require(run.rgb <= 0xFFFFFF);
            Require(!run.automaticColor || run.rgb == 0);
            textBytes += run.text.size();
        }
    }
    Require(textBytes <= document.size());
    // Every paragraph but the last is closed by a mark of at least two bytes.
    Require(paragraphs.size() <= document.size() / 2 + 1);
}

std::string WithoutLineBreaks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c != '\r' && c != '\n') {
            out.push_back(c);
        }
    }
    return out;
}

std::vector<RtfRun> ExpectedRuns(const HistoryEntry& entry, std::string_view computerName) {
    const bool incoming = entry.kind == Incoming;
    std::vector<RtfRun> runs;
    std::string shownSender = entry.sender;
    if (!incoming) {
        shownSender += '@';
        shownSender += computerName;
    }
    runs.push_back(RtfRun{WithoutLineBreaks(shownSender) + ": ", incoming ? kBlue : kNavy, false,
                          false, false});

    std::string_view shown = entry.text;
    RtfRun textRun{"", 0, true, incoming, !incoming};
    if (!shown.empty() && (shown.front() == '!' || shown.front() == '*')) {
        textRun.rgb = shown.front() == '!' ? kRed : kGreen;
        textRun.automaticColor = false;
        shown.remove_prefix(1);
    }
    textRun.text = WithoutLineBreaks(shown);
    if (!textRun.text.empty()) {
        runs.push_back(std::move(textRun));
    }
    return runs;
}

void ReadAnyDocument(const uint8_t* data, size_t size) {
    const std::string_view document(reinterpret_cast<const char*>(data), size);
    CheckReadable(document, ReadRtf(document));
}

void RoundTripHistory(uint8_t mode, const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> pieces;
    size_t start = 0;
    while (start <= input.size()) {
        const size_t end = std::min(input.find('\0', start), input.size());
        pieces.push_back(input.substr(start, end - start));
        start = end + 1;
    }

    const std::string computerName(pieces.front());
    std::vector<HistoryEntry> history;
    size_t unknownKinds = 0;
    for (size_t i = 1; i < pieces.size(); ++i) {
        std::string_view piece = pieces[i];
        if (piece.empty()) {
            continue;
        }
        HistoryEntry entry;
        const auto kindByte = static_cast<uint8_t>(piece.front());
        entry.kind = kindByte == 1 || kindByte == 2 ? int32_t{kindByte}
                                                    : int32_t{static_cast<int8_t>(kindByte)};
        piece.remove_prefix(1);
        size_t senderLength = 0;
        if (!piece.empty()) {
            senderLength = std::min<size_t>(static_cast<uint8_t>(piece.front()), piece.size() - 1);
            piece.remove_prefix(1);
        }
        entry.sender = std::string(piece.substr(0, senderLength));
        entry.text = std::string(piece.substr(senderLength));
        if (entry.kind != Incoming && entry.kind != Outgoing) {
            ++unknownKinds;
        }
        history.push_back(std::move(entry));
    }

    RecordingPresenter presenter;
    const std::string document = BuildChatLogDocument(history, computerName, presenter);
    Require(presenter.Shown().size() == unknownKinds);

    // The stream hands over the document whole, in slices of any size.
    LogStream stream(document);
    const int32_t slice = (mode >> 1) + 1;
    std::vector<uint8_t> buffer(static_cast<size_t>(slice));
    std::string streamed;
    int32_t delivered = 0;
    Require(stream.ReadLogStream(buffer.data(), 0, delivered) == 0 && delivered == 0);
    do {
        Require(stream.ReadLogStream(buffer.data(), slice, delivered) == 0);
        Require(delivered >= 0 && delivered <= slice);
        streamed.append(reinterpret_cast<const char*>(buffer.data()),
                        static_cast<size_t>(delivered));
    } while (delivered > 0);
    Require(streamed == document && stream.Remaining() == 0);

    const std::vector<RtfParagraph> paragraphs = ReadRtf(document);
    CheckReadable(document, paragraphs);
    Require(paragraphs.size() == history.size() - unknownKinds);
    size_t next = 0;
    for (const HistoryEntry& entry : history) {
        if (entry.kind != Incoming && entry.kind != Outgoing) {
            continue;
        }
        Require(paragraphs[next].runs == ExpectedRuns(entry, computerName));
        ++next;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    if ((data[0] & 1) == 0) {
        ReadAnyDocument(data + 1, size - 1);
    } else {
        RoundTripHistory(data[0], data + 1, size - 1);
    }
    return 0;
}
