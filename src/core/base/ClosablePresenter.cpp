// src/core/base/ClosablePresenter.cpp
#include "core/base/ClosablePresenter.h"

#include "core/base/Log.h"
#include "core/res/Cp1250.h"

void ClosablePresenter::ShowMessage(const std::string& caption, const std::string& text,
                                    BoxIcon icon) {
    if (!m_closed) {
        m_inner.ShowMessage(caption, text, icon);
        return;
    }
    // One line: every run of line breaks becomes a blank.
    std::string line = caption + ": ";
    for (const char c : text) {
        if (c != '\r' && c != '\n') {
            line += c;
        } else if (line.back() != ' ') {
            line += ' ';
        }
    }
    corelog::Warning("exit", cp1250::ToUtf8(line));
}
