// src/widgets/adapters/Cp1250Input.cpp
#include "widgets/adapters/Cp1250Input.h"

#include <QLineEdit>
#include <utility>

#include "widgets/adapters/TextCodec.h"

namespace platform {

Cp1250Validator::Cp1250Validator(std::size_t maxBytes,
                                 std::function<void(const QString& hint)> refused, QObject* parent)
    : QValidator(parent), m_maxBytes(maxBytes), m_refused(std::move(refused)) {}

QValidator::State Cp1250Validator::validate(QString& input, int& /*position*/) const {
    if (!FitsCp1250(input)) {
        m_refused(CharacterHint());
        return Invalid;
    }
    if (m_maxBytes != 0 && ToCp1250(input).size() > m_maxBytes) {
        m_refused(LengthHint());
        return Invalid;
    }
    return Acceptable;
}

QString Cp1250Validator::CharacterHint() {
    return QStringLiteral("Znak nelze odeslat.");
}

QString Cp1250Validator::LengthHint() {
    return QStringLiteral("Zpráva je příliš dlouhá.");
}

InputHint::InputHint(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("hint"));
    setTextFormat(Qt::PlainText);
    m_timer.setSingleShot(true);
    m_timer.setInterval(kMilliseconds);
    connect(&m_timer, &QTimer::timeout, this, &InputHint::Clear);
}

void InputHint::Watch(QLineEdit* field, std::size_t maxBytes) {
    field->setValidator(new Cp1250Validator(
        maxBytes, [this](const QString& hint) { ShowHint(hint); }, field));
    // Typing on leaves the hint, which the next key would take away unread;
    // only an emptied field clears it early.
    connect(field, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text.isEmpty()) {
            Clear();
        }
    });
}

void InputHint::ShowHint(const QString& text) {
    setText(text);
    m_timer.start();
}

void InputHint::Clear() {
    m_timer.stop();
    clear();
}

}  // namespace platform
