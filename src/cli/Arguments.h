// src/cli/Arguments.h
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The command line of murmex3-cli: one command and its options.
enum class Command { Help, Version, Peers, Send, Bell, Watch };

struct Arguments {
    Command command = Command::Help;
    bool json = false;
    bool quiet = false;                // peers: listen without announcing
    int waitSeconds = 6;               // peers: how long to listen
    std::vector<std::string> to;       // send, bell: peers' names or addresses
    bool all = false;                  // send: to everybody
    std::vector<std::string> text;     // send: the words of the message
    std::optional<std::string> name;   // the user name to announce
    std::optional<std::string> group;  // the group to announce
    std::optional<int16_t> status;     // the status to announce
    // Where broadcasts also go: addresses, subnets, host names (ASCII).
    std::vector<std::string> also;
};

// Texts are UTF-8. `error` is empty when the line was understood.
struct ParsedArguments {
    Arguments arguments;
    std::string error;
};

// Parses the arguments after the program's name. --help and --version win
// over everything else, wherever they stand.
ParsedArguments ParseArguments(const std::vector<std::string>& words);

std::string HelpText();
std::string VersionText();
