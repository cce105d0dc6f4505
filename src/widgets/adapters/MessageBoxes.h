// src/widgets/adapters/MessageBoxes.h
#pragma once

#include <QWidget>
#include <atomic>
#include <string>

#include "core/base/Presenter.h"

namespace platform {

// The program's message boxes: a modal QMessageBox with the caption, text and
// icon given (code page 1250), owned by the owner's window and centred over
// it, so that it stays above that window (also above one that stays on top).
// A hidden or minimised owner's box, or one without an owner, opens on its own
// in the middle of the screen. Once the program has begun to end (Close()), a
// box is no longer shown but written to the log as a warning, so nothing met
// on the way out waits for someone to close it. User-interface thread only.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;

    // Returns when the box has been closed.
    void Show(QWidget* owner, const std::string& caption, const std::string& text, BoxIcon icon);
    void Close() { m_closed = true; }

protected:
    // The box itself, over the parent (or on its own); tests record instead.
    virtual void Open(QWidget* parent, const std::string& caption, const std::string& text,
                      BoxIcon icon);

private:
    std::atomic<bool> m_closed{false};
};

// The window a dialog of this window's opens over: the window while it is on
// the screen, else none.
QWidget* DialogParent(QWidget* window);

}  // namespace platform
