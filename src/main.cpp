// src/main.cpp
#include <QApplication>
#include <memory>

#include "core/settings/ProfileNames.h"
#include "widgets/adapters/Logging.h"
#include "widgets/adapters/QtProfile.h"
#include "widgets/app/AppLook.h"
#include "widgets/app/CommandLine.h"
#include "widgets/app/Mrmx3App.h"
#include "widgets/desktop/SingleInstance.h"

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
    QApplication::setApplicationName(QString::fromLatin1(kProfileApplication));
    QApplication::setOrganizationName(QString::fromLatin1(kProfileOrganisation));
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

    // A copy already running for this user shows its window instead.
    auto profile = std::make_unique<platform::QtProfile>();
    platform::SingleInstance instance(
        platform::SingleInstance::NameFor(profile->Settings().fileName()));
    switch (instance.Begin()) {
        case platform::SingleInstance::Start::HandedOver:
            return 0;
        case platform::SingleInstance::Start::NoAnswer:
            return 1;
        case platform::SingleInstance::Start::First:
            break;
    }

    CMrmx3App::Services services;
    services.profile = std::move(profile);
    CMrmx3App app{std::move(services)};
    instance.SetShowHandler([&app] { app.ShowMainWindow(); });
    if (!app.InitInstance()) {
        // An exit asked for during the start-up is an orderly end.
        return app.ExitRequested() ? 0 : 1;
    }
    return QApplication::exec();
}
