// src/widgets/app/AppLook.cpp
#include "widgets/app/AppLook.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "widgets/adapters/Logging.h"

namespace applook {

QTranslator* InstallCzechQtTexts(QObject* owner) {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto* translator = new QTranslator(owner);
    if (!translator->load(QLocale(QLocale::Czech, QLocale::Czechia), QStringLiteral("qtbase"),
                          QStringLiteral("_"), folder) ||
        !QCoreApplication::installTranslator(translator)) {
        qCWarning(lcUi) << "Qt's Czech texts are not installed in" << folder
                        << "(Debian: qt6-translations-l10n); standard texts stay English";
        delete translator;
        return nullptr;
    }
    return translator;
}

void InstallWindowIcon() {
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/tray.svg")));
}

}  // namespace applook
