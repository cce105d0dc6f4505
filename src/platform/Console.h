// src/platform/Console.h
#pragma once

#include <string>
#include <vector>

// The standard streams of a command-line program; its quit requests are in
// QuitRequests.h.
namespace platform {

// The program's arguments after its name, as UTF-8 (on Windows read from the
// wide command line: argv there holds the ANSI code page).
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Makes the standard streams carry UTF-8 bytes unchanged: binary mode and a
// UTF-8 console on Windows. On POSIX a write to a closed pipe fails instead
// of ending the program with SIGPIPE.
void PrepareStandardStreams();

// True when standard output is a terminal that shows colour sequences.
bool OutputIsColourTerminal();

}  // namespace platform
