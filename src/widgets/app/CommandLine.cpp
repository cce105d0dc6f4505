// src/widgets/app/CommandLine.cpp
#include "widgets/app/CommandLine.h"

#include <QCommandLineParser>
#include <cstdio>

namespace commandline {
namespace {

const QString kProgram = QStringLiteral("murmex3");

struct Parser {
    Parser() {
        parser.setApplicationDescription(
            QStringLiteral("A messenger for the people on one local network, without a server."));
        // Qt's own options are single words after one dash: not letter groups.
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOption(help);
        parser.addOption(version);
    }
    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Show this help and exit.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Show the program's name and version and exit.")};
};

void Print(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

}  // namespace

std::optional<int> HandleInformation(const QStringList& arguments) {
    Parser p;
    // Qt's options are not known yet, so errors wait for RefuseLeftovers.
    p.parser.parse(arguments);
    if (p.parser.isSet(p.help)) {
        // The usage line with the program's name, whatever the path it was started by.
        const QString text = p.parser.helpText();
        Print(stdout, QStringLiteral("Usage: %1 [options]\n").arg(kProgram) +
                          text.section(QLatin1Char('\n'), 1));
        return 0;
    }
    if (p.parser.isSet(p.version)) {
        Print(stdout, QStringLiteral("%1 %2\n").arg(kProgram, QStringLiteral(MURMEX3_VERSION)));
        return 0;
    }
    return std::nullopt;
}

std::optional<int> RefuseLeftovers(const QStringList& arguments) {
    Parser p;
    QString error;
    if (!p.parser.parse(arguments)) {
        error = p.parser.errorText();
    } else if (!p.parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("Unexpected argument '%1'.").arg(p.parser.positionalArguments()[0]);
    } else {
        return std::nullopt;
    }
    Print(stderr, QStringLiteral("%1: %2\nTry '%1 --help'.\n").arg(kProgram, error));
    return 1;
}

}  // namespace commandline
