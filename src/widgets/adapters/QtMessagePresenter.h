// src/widgets/adapters/QtMessagePresenter.h
#pragma once

#include <QPointer>
#include <QWidget>

#include "core/base/Presenter.h"

namespace platform {

// A modal QMessageBox with the caption, text and icon given (code page 1250).
class QtMessagePresenter final : public MessagePresenter {
public:
    explicit QtMessagePresenter(QWidget* parent = nullptr) : m_parent(parent) {}
    void SetParent(QWidget* parent) { m_parent = parent; }
    void ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) override;

private:
    QPointer<QWidget> m_parent;
};

}  // namespace platform
