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

}  // namespace

void QtMessagePresenter::ShowMessage(const std::string& caption, const std::string& text,
                                     BoxIcon icon) {
    const QString title = FromCp1250(caption);
    QString body = FromCp1250(text);
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(ToQtIcon(icon), title, body, QMessageBox::Ok, m_parent.data());
    box.setObjectName(QStringLiteral("messageBox"));
    box.setAccessibleName(title);
    // Texts come from peers and from the system; never read them as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace platform
