// src/widgets/app/CommandLine.h
#pragma once

#include <QStringList>
#include <optional>

// The program's command line: --help and --version, nothing else of its own.
// Qt's options (-platform, -display, -style ...) are the application
// object's, which removes them from its arguments.
namespace commandline {

// Before the application object exists, so that neither a display nor the
// network is needed: --help or --version prints its text on standard output
// and gives the exit status. Anything else gives nothing.
std::optional<int> HandleInformation(const QStringList& arguments);

// With Qt's options taken out: anything left is an error, told on standard
// error, and gives the exit status.
std::optional<int> RefuseLeftovers(const QStringList& arguments);

}  // namespace commandline
