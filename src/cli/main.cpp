// src/cli/main.cpp
#include <cstdio>

#include "cli/CliMain.h"
#include "platform/Console.h"

int main(int argc, char** argv) {
    platform::PrepareStandardStreams();
    return CliMain(platform::Utf8Arguments(argc, argv), stdout, stderr);
}
