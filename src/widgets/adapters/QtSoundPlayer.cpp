// src/widgets/adapters/QtSoundPlayer.cpp
#include "widgets/adapters/QtSoundPlayer.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

#include "widgets/adapters/Logging.h"
#include "widgets/adapters/TextCodec.h"

namespace platform {
namespace {

// The desktop's default sound; nothing without a GUI application.
void Beep() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
        QApplication::beep();
    }
}

}  // namespace

QtSoundPlayer::QtSoundPlayer() = default;
QtSoundPlayer::~QtSoundPlayer() = default;

// The effect is made on first use: creating it opens the audio backend, which
// a program that never plays a sound should not pay for. Loading and playing
// run in the background; the call returns at once.
void QtSoundPlayer::Play(const std::string& path) {
    const QString file = ResolvePath(FromCp1250(path));
    if (file.isEmpty()) {
        qCWarning(lcSound) << "No sound file" << FromCp1250(path) << "here, beside the program"
                           << "or in" << DataDirectory();
        Beep();
        return;
    }
    if (!m_effect) {
        m_effect = std::make_unique<QSoundEffect>();
        QSoundEffect* effect = m_effect.get();
        QObject::connect(effect, &QSoundEffect::statusChanged, effect, [effect] {
            if (effect->status() == QSoundEffect::Error) {
                qCWarning(lcSound) << "Cannot play" << effect->source().toLocalFile();
                Beep();
            }
        });
    }
    m_effect->stop();
    if (m_effect->status() == QSoundEffect::Error) {
        m_effect->setSource(QUrl());  // so that the same file is loaded, and reported, again
    }
    m_effect->setSource(QUrl::fromLocalFile(file));
    m_effect->play();
}

QString QtSoundPlayer::ResolvePath(const QString& relative) {
    if (relative.isEmpty()) {
        return {};
    }
    const QFileInfo local(relative);
    if (local.isFile()) {
        return local.absoluteFilePath();
    }
    // Then beside the program (a build tree), then the installed data.
    for (const QString& base : {QCoreApplication::applicationDirPath(), DataDirectory()}) {
        const QFileInfo found(QDir(base), relative);
        if (found.isFile()) {
            return found.absoluteFilePath();
        }
    }
    return {};
}

QString QtSoundPlayer::SoundsFolder(const QString& relativeFolder) {
    for (const QString& base :
         {QDir::currentPath(), QCoreApplication::applicationDirPath(), DataDirectory()}) {
        const QFileInfo found(QDir(base), relativeFolder);
        if (found.isDir()) {
            return found.absoluteFilePath();
        }
    }
    return relativeFolder;
}

QString QtSoundPlayer::DataDirectory() {
    return QDir::cleanPath(
        QFileInfo(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/murmex3"))
            .absoluteFilePath());
}

}  // namespace platform
