// src/core/base/Presenter.h
#pragma once

#include <string>
#include <string_view>

enum class BoxIcon { None, Information, Exclamation, Warning };

// Shows a modal message box and returns when the user has closed it. Texts
// are code page 1250 bytes. The widgets implement it; tests record.
struct MessagePresenter {
    virtual ~MessagePresenter() = default;
    virtual void ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) = 0;
};

// The trace code with its number filled in, e.g. FormatTraceCode("View 4, val %i", 9).
std::string FormatTraceCode(std::string_view pattern, int value);

// The internal-error box: string 132 followed by the trace code, exclamation icon,
// the application title as caption.
void ShowTraceCode(MessagePresenter& presenter, std::string_view pattern, int value);

// "Operation errorcode: N\r\n" followed by the system's text for the code.
std::string SocketErrorText(std::string_view operation, int code);

// The socket error box: caption "Error", information icon.
void ShowSocketError(MessagePresenter& presenter, std::string_view operation, int code);
