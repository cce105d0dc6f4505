// src/widgets/adapters/TextCodec.cpp
#include "widgets/adapters/TextCodec.h"

#include <QList>

#include "core/res/Cp1250.h"

namespace platform {

QString FromCp1250(const std::string& bytes) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (const char byte : bytes) {
        text.append(QChar(cp1250::Decode(byte)));
    }
    return text;
}

std::string ToCp1250(const QString& text) {
    return cp1250::FromUtf8(text.toStdString());
}

bool FitsCp1250(const QString& text) {
    for (const char32_t cp : text.toUcs4()) {
        if (!cp1250::Encode(cp).has_value()) {
            return false;
        }
    }
    return true;
}

}  // namespace platform
