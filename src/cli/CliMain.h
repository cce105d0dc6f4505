// src/cli/CliMain.h
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// The whole of murmex3-cli after the arguments are read: answers --help and
// --version, checks the text and the identity, then runs the command, printing
// to `out` and its errors (and the core's log) to `err`. Returns the exit status.
int CliMain(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err);
