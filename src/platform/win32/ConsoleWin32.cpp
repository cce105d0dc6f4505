// src/platform/win32/ConsoleWin32.cpp
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

#include "platform/Console.h"
#include "platform/win32/TextWin32.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace platform {
namespace {

UINT g_consoleOutputCodePage = 0;  // what the console had before; 0: unchanged
UINT g_consoleInputCodePage = 0;

void RestoreConsoleCodePages() {
    if (g_consoleOutputCodePage != 0) {
        ::SetConsoleOutputCP(g_consoleOutputCodePage);
    }
    if (g_consoleInputCodePage != 0) {
        ::SetConsoleCP(g_consoleInputCodePage);
    }
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    if (wide == nullptr) {
        for (int i = 1; i < argc; ++i) {
            arguments.emplace_back(argv[i]);
        }
        return arguments;
    }
    for (int i = 1; i < count; ++i) {
        arguments.push_back(win32text::WideToUtf8(wide[i]));
    }
    ::LocalFree(wide);
    return arguments;
}

void PrepareStandardStreams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    // A console shows and types UTF-8 while the program runs.
    const UINT output = ::GetConsoleOutputCP();
    if (output != 0 && output != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) {
        g_consoleOutputCodePage = output;
    }
    const UINT input = ::GetConsoleCP();
    if (input != 0 && input != CP_UTF8 && ::SetConsoleCP(CP_UTF8)) {
        g_consoleInputCodePage = input;
    }
    if (g_consoleOutputCodePage != 0 || g_consoleInputCodePage != 0) {
        std::atexit(RestoreConsoleCodePages);
    }
}

bool OutputIsColourTerminal() {
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (output == INVALID_HANDLE_VALUE || !::GetConsoleMode(output, &mode)) {
        return false;
    }
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           ::SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace platform
