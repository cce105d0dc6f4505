// src/widgets/adapters/MessageBoxes.cpp
#include "widgets/adapters/MessageBoxes.h"

#include <QMessageBox>

#include "core/base/Log.h"
#include "core/res/Cp1250.h"
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

}  // namespace

QWidget* DialogParent(QWidget* window) {
    if (window == nullptr) {
        return nullptr;
    }
    QWidget* top = window->window();
    return top->isVisible() && !top->isMinimized() ? top : nullptr;
}

void MessageBoxes::Show(QWidget* owner, const std::string& caption, const std::string& text,
                        BoxIcon icon) {
    if (!m_closed) {
        Open(DialogParent(owner), caption, text, icon);
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
    // The core's log, which the program hands to murmex3.exit.
    corelog::Warning("exit", cp1250::ToUtf8(line));
}

void MessageBoxes::Open(QWidget* parent, const std::string& caption, const std::string& text,
                        BoxIcon icon) {
    const QString title = FromCp1250(caption);
    QString body = FromCp1250(text);
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(ToQtIcon(icon), title, body, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("messageBox"));
    box.setAccessibleName(title);
    // Texts come from peers and from the system; never read them as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace platform
