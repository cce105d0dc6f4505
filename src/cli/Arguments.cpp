// src/cli/Arguments.cpp
#include "cli/Arguments.h"
#include "core/net/ExtraDestinations.h"

#include <algorithm>
#include <charconv>

namespace {

constexpr int kMaxWaitSeconds = 86400;

struct CommandName {
    const char* word;
    Command command;
};
constexpr CommandName kCommands[] = {
    {"peers", Command::Peers},
    {"send", Command::Send},
    {"bell", Command::Bell},
    {"watch", Command::Watch},
};

// An option, and the commands that take it (empty: every network command).
struct KnownOption {
    const char* name;
    bool takesValue;
    std::vector<Command> commands;
};
const KnownOption kOptions[] = {
    {"--json", false, {Command::Peers, Command::Watch}},
    {"--quiet", false, {Command::Peers}},
    {"--wait", true, {Command::Peers}},
    {"--to", true, {Command::Send, Command::Bell}},
    {"--all", false, {Command::Send}},
    {"--name", true, {}},
    {"--group", true, {}},
    {"--status", true, {}},
    {"--also", true, {}},
};

const char* CommandWord(Command command) {
    for (const CommandName& entry : kCommands) {
        if (entry.command == command) {
            return entry.word;
        }
    }
    return "";
}

std::optional<int> Integer(const std::string& text, int least, int most) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < least || value > most) {
        return std::nullopt;
    }
    return value;
}

std::string ApplyOption(Arguments& a, const std::string& option, const std::string& value) {
    if (option == "--json") {
        a.json = true;
    } else if (option == "--quiet") {
        a.quiet = true;
    } else if (option == "--all") {
        a.all = true;
    } else if (option == "--wait") {
        const std::optional<int> seconds = Integer(value, 0, kMaxWaitSeconds);
        if (!seconds) {
            return "--wait takes whole seconds from 0 to " + std::to_string(kMaxWaitSeconds) +
                   ", not '" + value + "'";
        }
        a.waitSeconds = *seconds;
    } else if (option == "--status") {
        const std::optional<int> status = Integer(value, 0, 3);
        if (!status) {
            return "--status takes 0 (ready), 1 (away), 2 (do not disturb) or 3 (at lunch), not '" +
                   value + "'";
        }
        a.status = static_cast<int16_t>(*status);
    } else if (value.empty()) {
        return option + " must not be empty";
    } else if (option == "--to") {
        a.to.push_back(value);
    } else if (option == "--also") {
        if (!ParseExtraAddress(value)) {
            return "--also takes an address (10.1.2.7), a subnet (10.1.2.0/24) or a host "
                   "name, not '" +
                   value + "'";
        }
        a.also.push_back(value);
    } else if (option == "--name") {
        a.name = value;
    } else if (option == "--group") {
        a.group = value;
    }
    return {};
}

}  // namespace

ParsedArguments ParseArguments(const std::vector<std::string>& words) {
    ParsedArguments result;
    Arguments& a = result.arguments;
    for (const std::string& word : words) {
        if (word == "--") {
            break;
        }
        if (word == "-h" || word == "--help") {
            a.command = Command::Help;
            return result;
        }
        if (word == "-v" || word == "--version") {
            a.command = Command::Version;
            return result;
        }
    }

    std::optional<Command> command;
    // Options are checked against the command once it is known.
    std::vector<std::pair<const KnownOption*, std::string>> options;
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (!optionsEnded && word == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && word.size() > 1 && word[0] == '-') {
            const size_t equals = word.find('=');
            const std::string name = word.substr(0, equals);
            const auto known = std::find_if(std::begin(kOptions), std::end(kOptions),
                                            [&](const KnownOption& s) { return name == s.name; });
            if (known == std::end(kOptions)) {
                result.error = "unknown option '" + name + "'";
                return result;
            }
            std::string value;
            if (known->takesValue) {
                if (equals != std::string::npos) {
                    value = word.substr(equals + 1);
                } else if (i + 1 < words.size()) {
                    value = words[++i];
                } else {
                    result.error = name + " needs a value";
                    return result;
                }
            } else if (equals != std::string::npos) {
                result.error = name + " takes no value";
                return result;
            }
            options.emplace_back(&*known, value);
            continue;
        }
        if (!command) {
            const auto found = std::find_if(std::begin(kCommands), std::end(kCommands),
                                            [&](const CommandName& c) { return word == c.word; });
            if (found == std::end(kCommands)) {
                result.error = "unknown command '" + word + "'";
                return result;
            }
            command = found->command;
            continue;
        }
        if (*command != Command::Send) {
            result.error = std::string(CommandWord(*command)) + " takes no argument '" + word + "'";
            return result;
        }
        a.text.push_back(word);
    }
    if (!command) {
        result.error = "no command given";
        return result;
    }
    a.command = *command;
    for (const auto& [known, value] : options) {
        if (!known->commands.empty() && std::find(known->commands.begin(), known->commands.end(),
                                                  a.command) == known->commands.end()) {
            result.error =
                std::string(known->name) + " is not an option of " + CommandWord(a.command);
            return result;
        }
        result.error = ApplyOption(a, known->name, value);
        if (!result.error.empty()) {
            return result;
        }
    }
    if (a.command == Command::Send && a.to.empty() != a.all) {
        result.error = "send needs either --to NAME|ADDRESS or --all";
    } else if (a.command == Command::Bell && a.to.empty()) {
        result.error = "bell needs --to NAME|ADDRESS";
    }
    return result;
}

std::string HelpText() {
    return "Usage: murmex3-cli COMMAND [options]\n"
           "\n"
           "A peer of Murmex3, the messenger of one local network, for scripts and servers.\n"
           "\n"
           "Commands:\n"
           "  peers [--wait SECONDS] [--json] [--quiet]\n"
           "        Listen (6 s unless told) and print the peers heard. Announces this\n"
           "        peer while it listens and says goodbye after, unless --quiet.\n"
           "  send (--to NAME|ADDRESS ... | --all) [--] [TEXT...]\n"
           "        Send a message: the words given, or else standard input without the\n"
           "        line breaks at its end. Each --to (it may be repeated) gets a typing\n"
           "        notice and the message. A NAME (user@computer, or the user part\n"
           "        alone) is found by listening for one announcement period and a\n"
           "        second; an exact match wins, else one peer matching in any case.\n"
           "  bell --to NAME|ADDRESS ...\n"
           "        Ring the bell of each peer given.\n"
           "  watch [--json]\n"
           "        Take part as a peer and print one line (or one JSON object) per\n"
           "        event, until SIGINT, SIGTERM or SIGHUP, or until the output is\n"
           "        closed; then say goodbye.\n"
           "\n"
           "Options of every command:\n"
           "  --name NAME     the user name to announce (else the desktop program's\n"
           "                  setting, else the logon name)\n"
           "  --group GROUP   the group to announce (else the desktop program's\n"
           "                  setting, else \"Připojeni\")\n"
           "  --status N      0 ready (default), 1 away, 2 do not disturb, 3 at lunch\n"
           "  --also ADDRESS  where broadcasts also go beyond this computer's networks:\n"
           "                  an address, a subnet (10.1.2.0/24) or a host name; it may\n"
           "                  be repeated, and adds to the desktop program's extra\n"
           "                  addresses\n"
           "  -h, --help      print this help and exit\n"
           "  -v, --version   print the name and version and exit\n"
           "\n"
           "Statuses as printed: 0 OK, 1 Pryč, 2 Neruš, 3 Jím, and 4 Odpojen for a\n"
           "peer that said goodbye or went silent.\n"
           "Texts are UTF-8; the network carries code page 1250, so a message holds only\n"
           "characters of that code page, at most 503 bytes of it.\n"
           "With --json, errors on standard error are JSON objects too, one a line.\n"
           "When the desktop program holds port 23654 on this computer, send and bell\n"
           "work from another port with addresses only; peers and watch need the port.\n"
           "\n"
           "Exit status: 0 done (watch: after a quit signal or a closed output),\n"
           "1 network failure (a goodbye that left by no network too), 2 usage or\n"
           "input error.\n";
}

std::string VersionText() {
    return std::string("murmex3-cli ") + MURMEX3_VERSION + "\n";
}
