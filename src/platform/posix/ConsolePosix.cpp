// src/platform/posix/ConsolePosix.cpp
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>

#include "platform/Console.h"

namespace platform {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    return arguments;
}

void PrepareStandardStreams() {
    std::signal(SIGPIPE, SIG_IGN);
}

bool OutputIsColourTerminal() {
    const char* term = std::getenv("TERM");
    return ::isatty(STDOUT_FILENO) == 1 && term != nullptr && std::strcmp(term, "dumb") != 0;
}

}  // namespace platform
