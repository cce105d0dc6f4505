// src/cli/CliMain.cpp
#include "cli/CliMain.h"

#include <cstdio>
#include <cstdlib>

#include "cli/Commands.h"
#include "cli/DesktopProfile.h"
#include "cli/Identity.h"
#include "cli/Text.h"
#include "core/net/ExtraDestinations.h"
#include "core/net/Packet.h"
#include "platform/Console.h"
#include "platform/QuitRequests.h"
#include "platform/Socket.h"

namespace {

int Usage(ErrorStream& errors, const std::string& error) {
    errors.Error(error + "\nTry 'murmex3-cli --help'.");
    return kExitUsage;
}

// The message: the words joined by spaces, or else standard input. Nothing
// after an error, which is printed.
std::optional<std::string> MessageText(const Arguments& arguments, ErrorStream& errors) {
    std::string utf8;
    const bool fromInput = arguments.text.empty();
    if (!fromInput) {
        for (const std::string& word : arguments.text) {
            utf8 += (utf8.empty() ? "" : " ") + word;
        }
    } else {
        char chunk[4096];
        size_t read = 0;
        while ((read = std::fread(chunk, 1, sizeof chunk, stdin)) > 0 &&
               utf8.size() <= clitext::kMaxMessageInput) {
            utf8.append(chunk, read);
        }
        if (std::ferror(stdin)) {
            errors.Error("cannot read the message from standard input");
            return std::nullopt;
        }
    }
    std::string error;
    std::optional<std::string> text = clitext::MessageText(std::move(utf8), fromInput, error);
    if (!text) {
        errors.Error(error);
    }
    return text;
}

bool WantsColour() {
    const char* noColour = std::getenv("NO_COLOR");
    return (noColour == nullptr || noColour[0] == '\0') && platform::OutputIsColourTerminal();
}

int Run(const std::vector<std::string>& words, const Clock& clock, std::FILE* out,
        ErrorStream& errors) {
    const ParsedArguments parsed = ParseArguments(words);
    if (!parsed.error.empty()) {
        return Usage(errors, parsed.error);
    }
    const Arguments& arguments = parsed.arguments;
    if (arguments.json) {
        errors.UseJson(clock);
    }
    Output output(out);
    if (arguments.command == Command::Help || arguments.command == Command::Version) {
        if (!output.Write(arguments.command == Command::Help ? HelpText() : VersionText()) &&
            !output.Closed()) {
            errors.SystemError("cannot write to standard output", output.Error());
            return kExitNetwork;
        }
        return kExitDone;
    }

    std::optional<std::string> text;
    if (arguments.command == Command::Send) {
        text = MessageText(arguments, errors);
        if (!text) {
            return kExitUsage;
        }
    }
    AppState state;
    const std::unique_ptr<Profile> profile = OpenDesktopProfile();
    const std::string identityError =
        PrepareIdentity(state, *profile, SystemNameSource(), arguments);
    if (!identityError.empty()) {
        return Usage(errors, identityError);
    }
    if (const int code = platform::InitSocketLibrary(); code != 0) {
        errors.SystemError("cannot start the system's sockets", code);
        return kExitNetwork;
    }

    platform::WatchQuitRequests(platform::QuitStyle::Console);
    ErrorPresenter presenter(errors);
    CommandContext context{state, clock, output, errors, presenter, WantsColour()};
    // The desktop program's extra addresses and those given; names are
    // looked up before the command begins.
    ExtraDestinations extras;
    std::string extraList = state.Read([](const SettingsRecord& s) { return s.extraAddresses; });
    for (const std::string& entry : arguments.also) {
        extraList += " " + entry;
    }
    extras.SetList(extraList);
    extras.ResolveNow();
    context.extras = &extras;
    switch (arguments.command) {
        case Command::Peers:
            return RunPeers(arguments, context);
        case Command::Send:
            return RunSend(arguments, *text, context);
        case Command::Bell:
            return RunBell(arguments, context);
        case Command::Watch:
            return RunWatch(arguments, context);
        case Command::Help:
        case Command::Version:
            break;
    }
    return kExitDone;
}

}  // namespace

int CliMain(const std::vector<std::string>& words, std::FILE* out, std::FILE* err) {
    const SystemClock clock;
    ErrorStream errors(err);
    ErrorLogSink log(errors);
    corelog::SetSink(&log);
    const int status = Run(words, clock, out, errors);
    corelog::SetSink(nullptr);
    return status;
}
