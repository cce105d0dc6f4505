// src/main.cpp
#include <QApplication>

#include "widgets/adapters/Logging.h"
#include "widgets/app/AppLook.h"
#include "widgets/app/CommandLine.h"
#include "widgets/app/Mrmx3App.h"

namespace {

QStringList Arguments(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    return arguments;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication::setApplicationName(QStringLiteral("Mrmx3"));
    QApplication::setOrganizationName(QStringLiteral("Quillory"));
    QApplication::setApplicationVersion(QStringLiteral(MURMEX3_VERSION));
    if (const auto status = commandline::HandleInformation(Arguments(argc, argv))) {
        return *status;
    }

    QApplication application(argc, argv);
    if (const auto status = commandline::RefuseLeftovers(QApplication::arguments())) {
        return *status;
    }
    // The program lives in the tray: closing its last window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    platform::InstallQtLogSink();
    applook::InstallCzechQtTexts(&application);
    applook::InstallWindowIcon();

    CMrmx3App app{CMrmx3App::Services{}};
    if (!app.InitInstance()) {
        // An exit asked for during the start-up is an orderly end.
        return app.ExitRequested() ? 0 : 1;
    }
    return QApplication::exec();
}
