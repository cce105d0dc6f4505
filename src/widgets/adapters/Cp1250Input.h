// src/widgets/adapters/Cp1250Input.h
#pragma once

#include <QLabel>
#include <QString>
#include <QTimer>
#include <QValidator>
#include <cstddef>
#include <functional>

class QLineEdit;

namespace platform {

// Accepts an edit field's text while every character has a code page 1250
// byte and, with a byte limit, while it has at most that many bytes. A
// refused change is undone by the line edit and reported with its hint.
class Cp1250Validator final : public QValidator {
public:
    // maxBytes 0: no limit.
    Cp1250Validator(std::size_t maxBytes, std::function<void(const QString& hint)> refused,
                    QObject* parent);

    State validate(QString& input, int& position) const override;

    static QString CharacterHint();
    static QString LengthHint();

private:
    std::size_t m_maxBytes;
    std::function<void(const QString&)> m_refused;
};

// A short line beside an edit field that says why a change was refused. It
// stays its full time while the user goes on typing, and clears earlier only
// when the field is emptied.
class InputHint final : public QLabel {
    Q_OBJECT
public:
    static constexpr int kMilliseconds = 4000;

    explicit InputHint(QWidget* parent = nullptr);

    // Gives the field a Cp1250Validator that reports here.
    void Watch(QLineEdit* field, std::size_t maxBytes = 0);
    void ShowHint(const QString& text);
    // Runs while a hint shows and clears it at its end (tests read and fire it).
    QTimer& Timer() { return m_timer; }

private:
    void Clear();

    QTimer m_timer;
};

}  // namespace platform
