// src/core/net/Packet.h
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/base/Presenter.h"

inline constexpr uint16_t kPeerPort = 23654;
inline constexpr size_t kReceiveBufferSize = 508;
inline constexpr size_t kPacketBodySize = 512;
inline constexpr size_t kPacketBufferSize = 4 + kPacketBodySize;
inline constexpr size_t kPresenceLength = 102;
inline constexpr size_t kPresenceStatusOffset = 4;
inline constexpr size_t kPresenceNameOffset = 6;
inline constexpr size_t kPresenceGroupOffset = 54;
inline constexpr size_t kPresenceFieldWidth = 48;
inline constexpr size_t kTextOffset = 4;
// The longest text whose datagram a receiver takes whole (508 - 4 - 1).
inline constexpr size_t kMaxDeliverableText = kReceiveBufferSize - kTextOffset - 1;

enum PacketType : int16_t {
    kTypeChat = 1,   // subtypes: presence, text, typing
    kTypeBell = 2,   // any subtype
    kTypeGroup = 3,  // subtype 3: group assignment
};
enum PacketSubtype : int16_t {
    kSubPresence = 1,
    kSubText = 2,
    kSubTyping = 8,
    kSubBell = 2,
    kSubGroup = 3,
};

// The 4-byte header of every datagram: type and subtype, signed 16-bit,
// little-endian.
struct PacketHeader {
    int16_t type = 0;
    int16_t subtype = 0;
};

// The 516 bytes in which a datagram is built: header and a 512-byte body.
// Starts zeroed, so no stale bytes ever leave the machine.
struct PacketBuffer {
    std::array<uint8_t, kPacketBufferSize> bytes{};

    PacketHeader Header() const;
    void SetHeader(int16_t type, int16_t subtype);
    const uint8_t* data() const { return bytes.data(); }
};

// Number of bytes to send for a filled buffer. Unknown kinds show the trace box
// ("Sock 1, HdrST %i" or "Sock 2, HdrT %i") and give 4.
int16_t PacketLength(const PacketBuffer& packet, MessagePresenter& presenter);

// Builders. Text fields are cut to what their field holds: the joined name
// "user@computer" and the group to 47 bytes, a message to 511 bytes.
void BuildPresence(PacketBuffer& packet, int16_t status, std::string_view userName,
                   std::string_view computerName, std::string_view groupName);
void BuildText(PacketBuffer& packet, std::string_view text);
void BuildTyping(PacketBuffer& packet);
void BuildBell(PacketBuffer& packet);
// Never sent by the program; tests and tools use it.
void BuildGroupAssignment(PacketBuffer& packet, std::string_view groupName);

// A received datagram, read strictly within its bytes.
class DatagramView {
public:
    DatagramView(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    size_t Size() const { return m_size; }
    bool HasHeader() const { return m_size >= 4; }
    // Header fields; 0 when the datagram is shorter than the header.
    int16_t Type() const;
    int16_t Subtype() const;
    // A signed 16-bit field, or nothing if it does not lie within the bytes.
    std::optional<int16_t> Int16At(size_t offset) const;
    // A text field: from offset up to its NUL, the field's width or the end of
    // the bytes, whichever comes first. Empty when offset lies past the end.
    std::string TextAt(size_t offset, size_t width = SIZE_MAX) const;
    // The same without a copy; it points into the datagram's bytes.
    std::string_view TextViewAt(size_t offset, size_t width = SIZE_MAX) const;

    // Presence fields; a presence datagram shorter than 6 bytes has none.
    bool IsCompletePresenceStatus() const { return m_size >= kPresenceStatusOffset + 2; }
    int16_t PresenceStatus() const { return Int16At(kPresenceStatusOffset).value_or(0); }
    std::string PresenceName() const { return TextAt(kPresenceNameOffset, kPresenceFieldWidth); }
    std::string PresenceGroup() const { return TextAt(kPresenceGroupOffset, kPresenceFieldWidth); }
    std::string_view PresenceNameView() const {
        return TextViewAt(kPresenceNameOffset, kPresenceFieldWidth);
    }
    std::string_view PresenceGroupView() const {
        return TextViewAt(kPresenceGroupOffset, kPresenceFieldWidth);
    }
    std::string BodyText() const { return TextAt(kTextOffset); }

private:
    const uint8_t* m_data;
    size_t m_size;
};
