// src/cli/Formats.h
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/PeerTable.h"

// What murmex3-cli prints, as UTF-8: the peers heard (a table or one JSON
// array) and one line or one JSON object per event. Colour sequences only
// where `colour` is set.
namespace formats {

// A table with a header: address, name, group, status and its number, and
// the seconds since each peer was last heard.
std::string PeersTable(const std::vector<Peer>& peers, int64_t now, bool colour);
// [{"address":..,"name":..,"group":..,"status":N,"statusText":..,"lastHeardSeconds":N},...]
std::string PeersJson(const std::vector<Peer>& peers, int64_t now);

// "<clock> <event> <address> <name>: <detail>", one line.
std::string EventLine(const PeerEvent& event, const std::string& clock, bool colour);
// {"time":N,"event":..,"address":..,"name":..,"group":..,"status":N,"statusText":..,...}
std::string EventJson(const PeerEvent& event, int64_t time);

// "YYYY-MM-DD HH:MM:SS" in local time.
std::string LocalClock(int64_t time);

}  // namespace formats
