// src/main.cpp
#include <QApplication>

#include "widgets/adapters/Logging.h"
#include "widgets/app/Mrmx3App.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mrmx3"));
    QApplication::setOrganizationName(QStringLiteral("Quillory"));
    QApplication::setApplicationVersion(QStringLiteral(MURMEX3_VERSION));
    // The program lives in the tray: closing its last window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    platform::InstallQtLogSink();

    CMrmx3App app{CMrmx3App::Services{}};
    if (!app.InitInstance()) {
        // An exit asked for during the start-up is an orderly end.
        return app.ExitRequested() ? 0 : 1;
    }
    return QApplication::exec();
}
