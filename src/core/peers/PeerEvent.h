// src/core/peers/PeerEvent.h
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What one received datagram, or one liveness scan, did to the peer
// directory: the facts a front end needs to show it, copied out of the
// record, so that nobody reads the directory again to tell the user.
// Texts are code page 1250.
enum class PeerEventKind {
    Appeared,       // a new record; `status` is Ready, `announcedStatus` what it announced
    StatusChanged,  // the status changed, and maybe the name or group with it
    Renamed,        // only the name or the group changed
    WentSilent,     // marked Disconnected by a scan
    Message,        // `text` appended to the history
    Typing,
    Bell,           // `quoted`: the peer's newest message, if any
    GroupAssigned,  // `text`: the own group, already set in the settings
    Refused,        // a new peer beyond the directory's cap was dropped
    UnknownKind,    // a datagram of a kind outside the table; `traceCode` names it
};

// A peer as an event leaves it.
struct PeerFacts {
    std::string address;  // dotted
    std::string name;
    std::string group;
    int16_t status = 0;
    int64_t lastHeard = 0;
};

struct PeerEvent {
    PeerEventKind kind = PeerEventKind::Appeared;
    int index = -1;  // the record; -1 where none is concerned
    uint32_t sender = 0;
    PeerFacts peer{};  // after the event
    int16_t previousStatus = 0;
    int16_t announcedStatus = 0;  // Appeared
    bool nameChanged = false;
    bool groupChanged = false;
    bool cameBack = false;      // StatusChanged from Disconnected
    int64_t silentSeconds = 0;  // WentSilent
    std::string text{};
    std::optional<std::string> quoted{};
    std::string traceCode{};    // UnknownKind
    int16_t type = 0;           // UnknownKind
    int16_t subtype = 0;        // UnknownKind
    uint64_t refusedSoFar = 0;  // Refused
    bool firstOfRun = false;    // Refused: the first after a quiet spell
};
