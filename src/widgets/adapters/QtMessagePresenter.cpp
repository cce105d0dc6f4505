// src/widgets/adapters/QtMessagePresenter.cpp
#include "widgets/adapters/QtMessagePresenter.h"

#include <QMessageBox>

#include "widgets/adapters/TextCodec.h"

namespace platform {
namespace {

QMessageBox::Icon ToQtIcon(BoxIcon icon) {
    switch (icon) {
        case BoxIcon::Information:
            return QMessageBox::Information;
        case BoxIcon::Exclamation:
        case BoxIcon::Warning:
            return QMessageBox::Warning;
        case BoxIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

// The owner of the box now being shown; boxes nest in the order they open.
thread_local QPointer<QWidget> t_owner;

}  // namespace

QWidget* DialogParent(QWidget* window) {
    if (window == nullptr) {
        return nullptr;
    }
    QWidget* top = window->window();
    return top->isVisible() && !top->isMinimized() ? top : nullptr;
}

void WindowBoxes::ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) {
    const QPointer<QWidget> outer = t_owner;
    t_owner = DialogParent(m_window.data());
    m_inner.ShowMessage(caption, text, icon);
    t_owner = outer;
}

QWidget* WindowBoxes::CurrentOwner() {
    return t_owner.data();
}

void QtMessagePresenter::ShowMessage(const std::string& caption, const std::string& text,
                                     BoxIcon icon) {
    const QString title = FromCp1250(caption);
    QString body = FromCp1250(text);
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QWidget* parent = m_parent ? m_parent.data() : WindowBoxes::CurrentOwner();
    QMessageBox box(ToQtIcon(icon), title, body, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("messageBox"));
    box.setAccessibleName(title);
    // Texts come from peers and from the system; never read them as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace platform
