// src/widgets/adapters/TextCodec.h
#pragma once

#include <QString>
#include <string>

// The edge between the core's code page 1250 bytes and Qt's Unicode text.
namespace platform {

QString FromCp1250(const std::string& bytes);
std::string ToCp1250(const QString& text);
// Whether every character of the text has a code page 1250 byte.
bool FitsCp1250(const QString& text);

}  // namespace platform
