// src/core/settings/SoundEvents.cpp
#include "core/settings/SoundEvents.h"

#include "core/res/Strings.h"

namespace {
constexpr int64_t kThrottleSeconds = 3;
}

SoundEvents::SoundEvents(const AppState& state, const Clock& clock, SoundPlayer& player)
    : m_state(state), m_clock(clock), m_player(player) {}

void SoundEvents::PlayEventSound(int fileNameStringId) {
    struct Switches {
        bool playSounds;
        bool soundsInDndState;
        std::string soundFolder;
    };
    const Switches s = m_state.Read([](const SettingsRecord& r) {
        return Switches{r.playSounds, r.soundsInDndState, r.soundFolder};
    });
    if (!s.playSounds) {
        return;
    }
    if (!s.soundsInDndState && m_state.OwnStatus() == DoNotDisturb) {
        return;
    }
    const int64_t now = m_clock.NowSeconds();
    // Two's complement difference: a clock set back gives a negative value and mutes.
    const auto elapsed =
        static_cast<int64_t>(static_cast<uint64_t>(now) - static_cast<uint64_t>(m_lastSoundTime));
    if (elapsed < kThrottleSeconds) {
        return;
    }
    m_player.Play(SoundPath(s.soundFolder, fileNameStringId));
    m_lastSoundTime = now;
}

std::string SoundEvents::SoundPath(const std::string& soundFolder, int fileNameStringId) {
    return res::String(res::kStrSoundsFolder) + "/" + soundFolder + "/" +
           res::String(fileNameStringId);
}
