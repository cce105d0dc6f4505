// src/widgets/app/AboutDialog.cpp
#include "widgets/app/AboutDialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QTextBrowser>
#include <QVBoxLayout>

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("aboutDialog");
    setWindowTitle(QStringLiteral("O Murmex3"));
    auto* page = new QTextBrowser(this);
    page->setObjectName("aboutPage");
    page->setHtml(PageHtml());
    page->setOpenLinks(false);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(page);
    layout->addWidget(buttons);
    resize(320, 220);
}

QString AboutDialog::PageHtml() {
    QFile file(QStringLiteral(":/about.html"));
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("Murmex3 " MURMEX3_VERSION);
    }
    return QString::fromUtf8(file.readAll())
        .replace(QStringLiteral("@VERSION@"), QStringLiteral(MURMEX3_VERSION));
}
