// src/core/peers/History.h
#pragma once

#include <cstdint>
#include <string>

enum HistoryKind : int32_t {
    Incoming = 1,
    Outgoing = 2,
};

// One line of a conversation (code page 1250 texts).
struct HistoryEntry {
    int32_t kind = Incoming;
    std::string sender;
    std::string text;
    // An Incoming line this program wrote about the peer (its disconnection or
    // return), not a message of the peer.
    bool notice = false;

    bool operator==(const HistoryEntry&) const = default;
};
