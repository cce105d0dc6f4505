// src/platform/win32/ConsoleWin32.cpp
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/Console.h"
#include "platform/win32/TextWin32.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace platform {
namespace {

std::atomic<bool> g_quitRequested{false};
HANDLE g_quitHandled = nullptr;
HANDLE g_quitWake = nullptr;       // set with the request, for a wait in SocketWait.h
UINT g_consoleOutputCodePage = 0;  // what the console had before; 0: unchanged
UINT g_consoleInputCodePage = 0;

// The longest a closing console waits for the goodbye; the system allows about 5 s.
constexpr DWORD kCloseWaitMs = 4000;

BOOL WINAPI OnConsoleEvent(DWORD type) {
    g_quitRequested.store(true);
    if (g_quitWake != nullptr) {
        ::SetEvent(g_quitWake);
    }
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
        // The process ends when this returns: give the goodbye its time.
        if (g_quitHandled != nullptr) {
            ::WaitForSingleObject(g_quitHandled, kCloseWaitMs);
        }
    }
    return TRUE;
}

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

void WatchQuitRequests() {
    if (g_quitHandled == nullptr) {
        g_quitHandled = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    if (g_quitWake == nullptr) {
        g_quitWake = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool QuitRequested() {
    return g_quitRequested.load();
}

intptr_t QuitWake() {
    return g_quitWake != nullptr ? reinterpret_cast<intptr_t>(g_quitWake) : kNoQuitWake;
}

void QuitHandled() {
    if (g_quitHandled != nullptr) {
        ::SetEvent(g_quitHandled);
    }
}

}  // namespace platform
