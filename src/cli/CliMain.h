// src/cli/CliMain.h
#pragma once

#include <string>
#include <vector>

// The whole of murmex3-cli after the arguments are read: answers --help and
// --version, checks the text and the identity, then runs the command. Returns
// the exit status.
int CliMain(const std::vector<std::string>& arguments);
