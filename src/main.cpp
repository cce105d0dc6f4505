// src/main.cpp
#include <QApplication>

#include "app/Mrmx3App.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mrmx3"));
    QApplication::setOrganizationName(QStringLiteral("Quillory"));
    QApplication::setApplicationVersion(QStringLiteral(MURMEX3_VERSION));
    // The program lives in the tray: closing its last window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    CMrmx3App app{CMrmx3App::Services{}};
    if (!app.InitInstance()) {
        return 1;
    }
    return QApplication::exec();
}
