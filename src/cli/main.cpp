// src/cli/main.cpp
#include "cli/CliMain.h"
#include "cli/Streams.h"
#include "platform/Console.h"

int main(int argc, char** argv) {
    platform::PrepareStandardStreams();
    ErrorLogSink log;
    corelog::SetSink(&log);
    const int status = CliMain(platform::Utf8Arguments(argc, argv));
    corelog::SetSink(nullptr);
    return status;
}
