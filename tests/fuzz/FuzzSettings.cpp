// tests/fuzz/FuzzSettings.cpp
// Hostile stored settings through loading, the derived defaults and every
// part that reads them: event sounds, the inactivity watch, the presence
// announcement and saving.
//
// Input, read front to back (missing bytes read as zero):
// - for each of the 20 values of section "Settings", a tag byte: missing, a
//   32-bit number, an extreme number, a string of up to 4096 bytes (padded
//   with its fill byte), or a number written as a string;
// - the own status (16 bits; any value for the sounds and the announcement,
//   brought into the program's range for the inactivity watch), the logon and
//   computer names (strings as above);
// - the clock's start (32 bits) for the sounds;
// - the tick counter's start (32 bits), the number of inactivity passes and,
//   per pass, an action byte (input now, input unknown, a new own status) and
//   the milliseconds the tick then advances.
#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "core/Fakes.h"
#include "core/MemoryProfile.h"
#include "core/net/Packet.h"
#include "core/res/Strings.h"
#include "core/settings/AppState.h"
#include "core/settings/InactivityWatch.h"
#include "core/settings/Settings.h"
#include "core/settings/SoundEvents.h"
#include "core/settings/UserStatus.h"

namespace {

constexpr size_t kMaxString = 4096;
constexpr int kMaxPasses = 16;
constexpr uint32_t kMillisecondsPerMinute = 60'000;
constexpr int kStatusCount = Disconnected + 1;

constexpr std::array<const char*, 20> kNames = {
    "UserName",        "SoundFolder",     "ShowMySelf",        "SoundsInDNDState",
    "IconsType",       "IconsSize",       "GroupName",         "PlaySounds",
    "Notifications",   "WindowsUserName", "TopMost",           "Transpareny",
    "AboutMePeriod",   "CheckActivity",   "InactivityMinutes", "EnableConnectMsg",
    "EnableDisconMsg", "BTooltipTimeout", "OnNewUserMessage",  "OpenOnClickTooTip",
};

constexpr std::array<int32_t, 14> kExtremes = {
    INT32_MIN, INT32_MAX, -1, 0, 1, 2, 3, 4, 5, INT32_MIN + 1, 65535, 65536, 32767, -32768};

constexpr std::array<int, 10> kSoundIds = {res::kStrAwayWav,
                                           res::kStrLunchWav,
                                           res::kStrOnlineWav,
                                           res::kStrOfflineWav,
                                           res::kStrMessageWav,
                                           res::kStrDndWav,
                                           res::kStrBellWav,
                                           res::kStrSmallMsgWav,
                                           0,
                                           INT_MAX};

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

class InputReader {
public:
    InputReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool AtEnd() const { return m_pos >= m_size; }
    uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : uint8_t{0}; }
    uint16_t Uint16() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
    uint32_t Uint32() {
        const uint32_t low = Uint16();
        return low | (uint32_t{Uint16()} << 16);
    }
    // A length, a fill byte and as many of the input's bytes as there are;
    // the fill byte makes up the rest.
    std::string String() {
        const size_t length = Uint16() % (kMaxString + 1);
        const char fill = static_cast<char>(Byte());
        const size_t taken = std::min(length, m_size - std::min(m_pos, m_size));
        std::string text(reinterpret_cast<const char*>(m_data + m_pos), taken);
        m_pos += taken;
        text.resize(length, fill);
        return text;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

void StoreValue(InputReader& in, MemoryProfile& profile, const std::string& name) {
    switch (in.Byte() % 6) {
        case 0:
            break;  // missing
        case 1:
            profile.WriteInt(kSettingsSection, name, static_cast<int32_t>(in.Uint32()));
            break;
        case 2:
            profile.WriteInt(kSettingsSection, name, kExtremes[in.Byte() % kExtremes.size()]);
            break;
        case 3:
        case 4:
            profile.WriteString(kSettingsSection, name, in.String());
            break;
        default:
            profile.WriteString(kSettingsSection, name,
                                std::to_string(static_cast<int32_t>(in.Uint32())));
            break;
    }
}

class ScriptedProbe final : public IdleInputProbe {
public:
    std::optional<uint32_t> LastInputTick() const override { return m_lastInput; }
    uint32_t TickCount() const override { return m_now; }

    std::optional<uint32_t> m_lastInput;
    uint32_t m_now = 0;
};

// The text a presence field holds: cut to the field, ended by its first NUL.
std::string FieldText(std::string_view text) {
    text = text.substr(0, kPresenceFieldWidth - 1);
    return std::string(text.substr(0, text.find('\0')));
}

void CheckSounds(const AppState& state, FakeClock& clock) {
    const SettingsRecord settings = state.Settings();
    const bool muted =
        !settings.playSounds || (!settings.soundsInDndState && state.OwnStatus() == DoNotDisturb);
    RecordingPlayer player;
    SoundEvents sounds(state, clock, player);
    for (const int id : kSoundIds) {
        clock.Advance(3);
        sounds.PlayEventSound(id);
    }
    Require(player.Played().size() == (muted ? 0 : kSoundIds.size()));
    for (size_t i = 0; i < player.Played().size(); ++i) {
        const std::string& path = player.Played()[i];
        Require(path.size() <= settings.soundFolder.size() + 32);
        Require(path == "Sounds/" + settings.soundFolder + "/" + res::String(kSoundIds[i]));
    }
}

void CheckInactivityWatch(InputReader& in, AppState& state) {
    RunInactivityWatch(state, nullptr);  // a desktop that cannot tell: nothing happens
    Require(state.StatusBeforeAway() == -1);

    const auto [checkActivity, minutes] = state.Read([](const SettingsRecord& s) {
        return std::pair{s.checkActivity, s.inactivityMinutes};
    });
    const int64_t threshold = std::max<int64_t>(minutes, 1);
    ScriptedProbe probe;
    probe.m_now = in.Uint32();
    const int passes = in.Byte() % (kMaxPasses + 1);
    for (int pass = 0; pass < passes; ++pass) {
        const uint8_t action = in.Byte();
        if ((action & 1) != 0) {
            probe.m_lastInput = probe.m_now;
        } else if ((action & 2) != 0) {
            probe.m_lastInput.reset();
        }
        if ((action & 4) != 0) {
            state.SetOwnStatus(static_cast<int16_t>((action >> 3) % kStatusCount));
        }
        probe.m_now += in.Uint32();

        const int16_t own = state.OwnStatus();
        const int16_t saved = state.StatusBeforeAway();
        RunInactivityWatch(state, &probe);
        const int16_t ownAfter = state.OwnStatus();
        const int16_t savedAfter = state.StatusBeforeAway();

        if (!checkActivity || !probe.m_lastInput) {
            Require(ownAfter == own && savedAfter == saved);
            continue;
        }
        const uint32_t idleMinutes =
            static_cast<uint32_t>(probe.m_now - *probe.m_lastInput) / kMillisecondsPerMinute;
        if (idleMinutes == 0 && saved != -1) {
            Require(ownAfter == saved && savedAfter == -1);
        } else if (savedAfter != saved) {
            // Switched to Away: only after the threshold, never from lunch,
            // and the status before it is kept for the way back.
            Require(saved == -1 && savedAfter == own && ownAfter == Away);
            Require(own != AtLunch && idleMinutes >= threshold);
        } else {
            Require(ownAfter == own);
        }
    }
}

void CheckPresence(const AppState& state) {
    const AppState::Identity identity = state.PresenceIdentity();
    PacketBuffer packet;
    BuildPresence(packet, identity.status, identity.userName, identity.computerName,
                  identity.groupName);
    RecordingPresenter presenter;
    const int16_t length = PacketLength(packet, presenter);
    Require(length == static_cast<int16_t>(kPresenceLength) && presenter.Shown().empty());

    const DatagramView view(packet.data(), kPresenceLength);
    Require(view.PresenceStatus() == identity.status);
    Require(view.PresenceName() == FieldText(identity.userName + "@" + identity.computerName));
    Require(view.PresenceGroup() == FieldText(identity.groupName));

    // The group name as a message text: cut to the body, length from its NUL.
    BuildText(packet, identity.groupName);
    const int16_t textLength = PacketLength(packet, presenter);
    const std::string body = DatagramView(packet.data(), kPacketBufferSize).BodyText();
    Require(textLength == static_cast<int16_t>(kTextOffset + body.size() + 1));
    Require(textLength <= static_cast<int16_t>(kPacketBufferSize));
    Require(body == std::string(identity.groupName.substr(0, kPacketBodySize - 1))
                        .substr(0, identity.groupName.find('\0')));
}

void CheckSaveRoundTrip(const AppState& state, MemoryProfile& hostile) {
    const SettingsRecord settings = state.Settings();
    MemoryProfile fresh;
    SaveSettings(state, fresh);
    Require(fresh.WriteCount() == static_cast<int>(kNames.size()));
    Require(LoadSettings(fresh) == settings);
    // Saved over the hostile values, every value takes its own kind again.
    SaveSettings(state, hostile);
    Require(LoadSettings(hostile) == settings);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InputReader in(data, size);
    MemoryProfile profile;
    for (const char* name : kNames) {
        StoreValue(in, profile, name);
    }
    const auto ownStatus = static_cast<int16_t>(in.Uint16());
    const std::string logon = in.String();
    const std::string computer = in.String();

    AppState state;
    LoadSettings(state, profile);
    const SettingsRecord loaded = state.Settings();
    Require(loaded == LoadSettings(profile));

    ApplyDerivedDefaults(state, FixedNames(logon, computer));
    const SettingsRecord derived = state.Settings();
    Require(derived.userName ==
            (loaded.userName.empty() || loaded.windowsUserName ? logon : loaded.userName));
    Require(state.ComputerName() == computer);
    Require(state.OwnStatus() == Ready && state.StatusBeforeAway() == -1);
    Require(derived.soundFolder == (loaded.soundFolder.empty() ? "Standard" : loaded.soundFolder));
    Require(derived.groupName ==
            (loaded.groupName.empty() ? res::String(res::kStrDefaultGroup) : loaded.groupName));

    state.SetOwnStatus(ownStatus);
    FakeClock clock(static_cast<int64_t>(in.Uint32()));
    CheckSounds(state, clock);
    CheckPresence(state);
    // The own status only ever holds a UserStatus; -1 is the watch's mark for
    // "none saved", so the watch starts from one of the program's values.
    state.SetOwnStatus(
        static_cast<int16_t>((ownStatus % kStatusCount + kStatusCount) % kStatusCount));
    CheckInactivityWatch(in, state);
    CheckPresence(state);
    CheckSaveRoundTrip(state, profile);
    return 0;
}
