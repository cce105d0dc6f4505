// src/widgets/adapters/QtSoundPlayer.h
#pragma once

#include <QString>
#include <memory>

#include "core/settings/SoundEvents.h"

class QSoundEffect;

namespace platform {

// Wave files through QSoundEffect. A relative path is looked up in the current
// directory first, then beside the program, then in the installed data
// directory; a file that is in none of them gives the desktop's beep. A new sound cuts the one
// playing.
class QtSoundPlayer final : public SoundPlayer {
public:
    QtSoundPlayer();
    ~QtSoundPlayer() override;
    void Play(const std::string& path) override;

    // Where a relative sound path is found, or empty.
    static QString ResolvePath(const QString& relative);
    // The folder of the sound schemes that ResolvePath would use.
    static QString SoundsFolder(const QString& relativeFolder);
    // The installed data directory beside the program (../share/murmex3).
    static QString DataDirectory();

private:
    std::unique_ptr<QSoundEffect> m_effect;
};

}  // namespace platform
