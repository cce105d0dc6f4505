// src/core/base/Presenter.cpp
#include "core/base/Presenter.h"

#include "core/res/Cp1250.h"
#include "core/res/Strings.h"
#include "platform/Socket.h"

std::string FormatTraceCode(std::string_view pattern, int value) {
    std::string out;
    const size_t pos = pattern.find("%i");
    if (pos == std::string_view::npos) {
        return std::string(pattern);
    }
    out.append(pattern.substr(0, pos));
    out.append(std::to_string(value));
    out.append(pattern.substr(pos + 2));
    return out;
}

void ShowTraceCode(MessagePresenter& presenter, std::string_view pattern, int value) {
    presenter.ShowMessage(res::String(res::kStrAppTitle),
                          res::String(res::kStrTraceCodePrefix) + FormatTraceCode(pattern, value),
                          BoxIcon::Exclamation);
}

std::string SocketErrorText(std::string_view operation, int code) {
    std::string text(operation);
    text += " errorcode: ";
    text += std::to_string(code);
    text += "\r\n";
    text += cp1250::FromUtf8(platform::SocketErrorMessage(code));
    return text;
}

void ShowSocketError(MessagePresenter& presenter, std::string_view operation, int code) {
    presenter.ShowMessage("Error", SocketErrorText(operation, code), BoxIcon::Information);
}
