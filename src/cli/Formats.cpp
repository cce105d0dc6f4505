// src/cli/Formats.cpp
#include "cli/Formats.h"

#include <algorithm>
#include <ctime>

#include "cli/Text.h"
#include "core/res/Cp1250.h"
#include "core/settings/UserStatus.h"

namespace formats {
namespace {

constexpr const char* kBold = "\x1b[1m";
constexpr const char* kReset = "\x1b[0m";

// An event's name and the colour a terminal shows it in.
struct EventLook {
    const char* name;
    const char* colour;
};

EventLook Look(PeerEventKind kind) {
    switch (kind) {
        case PeerEventKind::Appeared:
            return {"appeared", "\x1b[32m"};  // green
        case PeerEventKind::StatusChanged:
            return {"status", "\x1b[33m"};  // yellow
        case PeerEventKind::WentSilent:
            return {"silent", "\x1b[31m"};  // red
        case PeerEventKind::Message:
            return {"message", "\x1b[36m"};  // cyan
        case PeerEventKind::Bell:
            return {"bell", "\x1b[35m"};  // magenta
        case PeerEventKind::GroupAssigned:
            return {"group", "\x1b[34m"};  // blue
        default:                           // the table prints no other kind
            return {"", ""};
    }
    return {"", ""};
}

// Characters of a UTF-8 text: every byte that does not continue a sequence.
size_t Characters(const std::string& utf8) {
    return static_cast<size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string Utf8(const std::string& cp1250Text) {
    return cp1250::ToUtf8(cp1250Text);
}

// The short text of a status ("OK", "Pryč", ...); empty outside 0 to 4.
std::string StatusText(int16_t status) {
    return Utf8(KnownStatusText(status));
}

// "OK (0)"
std::string StatusWithNumber(int16_t status) {
    const std::string text = StatusText(status);
    return (text.empty() ? std::string() : text + " ") + "(" + std::to_string(status) + ")";
}

// The fields every peer event carries, without the braces.
std::string PeerFields(const Peer& peer) {
    return "\"address\":" + clitext::JsonString(peer.address) +
           ",\"name\":" + clitext::JsonString(Utf8(peer.name)) +
           ",\"group\":" + clitext::JsonString(Utf8(peer.group)) +
           ",\"status\":" + std::to_string(peer.status) +
           ",\"statusText\":" + clitext::JsonString(StatusText(peer.status));
}

}  // namespace

std::string PeersTable(const std::vector<Peer>& peers, int64_t now, bool colour) {
    std::vector<std::vector<std::string>> rows = {{"ADDRESS", "NAME", "GROUP", "STATUS", "HEARD"}};
    for (const Peer& peer : peers) {
        rows.push_back({peer.address, clitext::OneLine(Utf8(peer.name)),
                        clitext::OneLine(Utf8(peer.group)), StatusWithNumber(peer.status),
                        std::to_string(std::max<int64_t>(now - peer.lastHeard, 0)) + " s"});
    }
    std::vector<size_t> column(rows.front().size(), 0);
    for (const auto& row : rows) {
        for (size_t c = 0; c < column.size(); ++c) {
            column[c] = std::max(column[c], Characters(row[c]));
        }
    }
    std::string out;
    for (size_t r = 0; r < rows.size(); ++r) {
        std::string line;
        for (size_t c = 0; c < column.size(); ++c) {
            line += rows[r][c];
            if (c + 1 < column.size()) {
                line.append(column[c] - Characters(rows[r][c]) + 2, ' ');
            }
        }
        out += r == 0 && colour ? kBold + line + kReset : line;
        out += '\n';
    }
    return out;
}

std::string PeersJson(const std::vector<Peer>& peers, int64_t now) {
    std::string out = "[";
    for (size_t i = 0; i < peers.size(); ++i) {
        out += i == 0 ? "{" : ",{";
        out += PeerFields(peers[i]);
        out += ",\"lastHeardSeconds\":" +
               std::to_string(std::max<int64_t>(now - peers[i].lastHeard, 0)) + "}";
    }
    out += "]\n";
    return out;
}

std::string EventLine(const PeerEvent& event, const std::string& clock, bool colour) {
    const Peer& peer = event.peer;
    std::string name = Look(event.kind).name;
    if (colour) {
        name = Look(event.kind).colour + name + kReset;
    }
    std::string line = clock + " " + name + " " + peer.address;
    if (event.kind != PeerEventKind::GroupAssigned) {
        line += " " + clitext::OneLine(Utf8(peer.name));
    }
    switch (event.kind) {
        case PeerEventKind::Appeared:
            line += ": " + StatusWithNumber(peer.status) + ", group " +
                    clitext::OneLine(Utf8(peer.group));
            break;
        case PeerEventKind::StatusChanged:
            line += ": " + StatusWithNumber(peer.status) + ", was " +
                    StatusWithNumber(event.previousStatus);
            break;
        case PeerEventKind::WentSilent:
            line += ": " + StatusWithNumber(peer.status) + ", nothing heard for " +
                    std::to_string(event.silentSeconds) + " s";
            break;
        case PeerEventKind::Message:
        case PeerEventKind::GroupAssigned:
            line += ": " + clitext::OneLine(Utf8(event.text));
            break;
        default:  // a bell; the table prints no other kind
            break;
    }
    return line + "\n";
}

std::string EventJson(const PeerEvent& event, int64_t time) {
    std::string out = "{\"time\":" + std::to_string(time) +
                      ",\"event\":" + clitext::JsonString(Look(event.kind).name);
    if (event.kind == PeerEventKind::GroupAssigned) {
        out += ",\"address\":" + clitext::JsonString(event.peer.address) +
               ",\"group\":" + clitext::JsonString(Utf8(event.text));
        return out + "}\n";
    }
    out += "," + PeerFields(event.peer);
    if (event.kind == PeerEventKind::StatusChanged || event.kind == PeerEventKind::WentSilent) {
        out += ",\"previousStatus\":" + std::to_string(event.previousStatus) +
               ",\"previousStatusText\":" + clitext::JsonString(StatusText(event.previousStatus));
    }
    if (event.kind == PeerEventKind::WentSilent) {
        out += ",\"silentSeconds\":" + std::to_string(event.silentSeconds);
    }
    if (event.kind == PeerEventKind::Message) {
        out += ",\"text\":" + clitext::JsonString(Utf8(event.text));
    }
    return out + "}\n";
}

std::string LocalClock(int64_t time) {
    const auto seconds = static_cast<std::time_t>(time);
    // One thread prints; localtime's shared buffer is safe here.
    const std::tm* local = std::localtime(&seconds);
    if (local == nullptr) {
        return std::to_string(time);
    }
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local);
    return text;
}

}  // namespace formats
