// src/widgets/adapters/QtMessagePresenter.h
#pragma once

#include <QPointer>
#include <QWidget>

#include "core/base/Presenter.h"

namespace platform {

// A modal QMessageBox with the caption, text and icon given (code page 1250),
// over the window whose WindowBoxes show it (or the parent given here).
class QtMessagePresenter final : public MessagePresenter {
public:
    explicit QtMessagePresenter(QWidget* parent = nullptr) : m_parent(parent) {}
    void ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) override;

private:
    QPointer<QWidget> m_parent;
};

// The boxes of one window, shown through the program's presenter: each opens
// owned by that window and centred over it, so it stays above it (also above
// a window that stays on top). A hidden or minimised window's box opens on
// its own in the middle of the screen. User-interface thread only.
class WindowBoxes final : public MessagePresenter {
public:
    WindowBoxes(MessagePresenter& inner, QWidget* window) : m_inner(inner), m_window(window) {}
    void ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) override;

    // The window that the box being shown belongs to, or null.
    static QWidget* CurrentOwner();

private:
    MessagePresenter& m_inner;
    QPointer<QWidget> m_window;
};

// The window a dialog of this window's opens over: the window while it is on
// the screen, else none.
QWidget* DialogParent(QWidget* window);

}  // namespace platform
