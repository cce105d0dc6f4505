// src/core/settings/SoundEvents.h
#pragma once

#include <cstdint>
#include <string>

#include "core/base/Clock.h"
#include "core/settings/AppState.h"

// Plays a wave file by its path, asynchronously; a new sound cuts the previous
// one; a missing file gives the system's default sound.
struct SoundPlayer {
    virtual ~SoundPlayer() = default;
    virtual void Play(const std::string& path) = 0;  // code page 1250 path
};

// The event sounds: muting by "PlaySounds" and by DoNotDisturb (unless
// "SoundsInDNDState"), at most one start per 3 seconds, path
// "Sounds/<SoundFolder>/<file of the string id>". User-interface thread only.
class SoundEvents {
public:
    SoundEvents(const AppState& state, const Clock& clock, SoundPlayer& player);

    void PlayEventSound(int fileNameStringId);
    static std::string SoundPath(const std::string& soundFolder, int fileNameStringId);

private:
    const AppState& m_state;
    const Clock& m_clock;
    SoundPlayer& m_player;
    int64_t m_lastSoundTime = 0;
};
