// src/core/net/Packet.cpp
#include "core/net/Packet.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kMaxFieldText = kPresenceFieldWidth - 1;  // 47 bytes and the NUL
constexpr size_t kMaxBodyText = kPacketBodySize - 1;       // 511 bytes and the NUL

int16_t ReadInt16(const uint8_t* at) {
    const auto raw = static_cast<uint16_t>(at[0] | (at[1] << 8));
    return static_cast<int16_t>(raw);
}

void WriteInt16(uint8_t* at, int16_t value) {
    const auto raw = static_cast<uint16_t>(value);
    at[0] = static_cast<uint8_t>(raw & 0xFF);
    at[1] = static_cast<uint8_t>(raw >> 8);
}

// Copies at most maxBytes of the text to the offset; the zeroed buffer supplies
// the NUL.
void CopyText(PacketBuffer& packet, size_t offset, std::string_view text, size_t maxBytes) {
    const size_t count = std::min(text.size(), maxBytes);
    if (count > 0) {
        std::memcpy(packet.bytes.data() + offset, text.data(), count);
    }
}

void StartPacket(PacketBuffer& packet, int16_t type, int16_t subtype) {
    packet.bytes.fill(0);
    packet.SetHeader(type, subtype);
}

}  // namespace

PacketHeader PacketBuffer::Header() const {
    return PacketHeader{ReadInt16(bytes.data()), ReadInt16(bytes.data() + 2)};
}

void PacketBuffer::SetHeader(int16_t type, int16_t subtype) {
    WriteInt16(bytes.data(), type);
    WriteInt16(bytes.data() + 2, subtype);
}

int16_t PacketLength(const PacketBuffer& packet, MessagePresenter& presenter) {
    const PacketHeader header = packet.Header();
    size_t length = 4;
    if (header.type == kTypeChat) {
        switch (header.subtype) {
            case kSubPresence:
                length = kPresenceLength;
                break;
            case kSubText: {
                // The text ends at its NUL; without one the whole buffer is sent.
                const uint8_t* body = packet.bytes.data() + kTextOffset;
                const auto* nul = static_cast<const uint8_t*>(std::memchr(body, 0, kMaxBodyText));
                const size_t textLength =
                    nul != nullptr ? static_cast<size_t>(nul - body) : kMaxBodyText;
                length += textLength + 1;
                break;
            }
            case kSubTyping:
                break;
            default:
                ShowTraceCode(presenter, "Sock 1, HdrST %i", header.subtype);
                break;
        }
    } else if (header.type != kTypeBell) {
        ShowTraceCode(presenter, "Sock 2, HdrT %i", header.type);
    }
    return static_cast<int16_t>(length);
}

void BuildPresence(PacketBuffer& packet, int16_t status, std::string_view userName,
                   std::string_view computerName, std::string_view groupName) {
    StartPacket(packet, kTypeChat, kSubPresence);
    WriteInt16(packet.bytes.data() + kPresenceStatusOffset, status);
    // "user@computer", cut as one text.
    uint8_t* name = packet.bytes.data() + kPresenceNameOffset;
    size_t used = 0;
    for (const std::string_view part : {userName, std::string_view("@"), computerName}) {
        const size_t count = std::min(part.size(), kMaxFieldText - used);
        if (count > 0) {
            std::memcpy(name + used, part.data(), count);
            used += count;
        }
    }
    CopyText(packet, kPresenceGroupOffset, groupName, kMaxFieldText);
}

void BuildText(PacketBuffer& packet, std::string_view text) {
    StartPacket(packet, kTypeChat, kSubText);
    CopyText(packet, kTextOffset, text, kMaxBodyText);
}

void BuildTyping(PacketBuffer& packet) {
    StartPacket(packet, kTypeChat, kSubTyping);
}

void BuildBell(PacketBuffer& packet) {
    StartPacket(packet, kTypeBell, kSubBell);
}

void BuildGroupAssignment(PacketBuffer& packet, std::string_view groupName) {
    StartPacket(packet, kTypeGroup, kSubGroup);
    CopyText(packet, kTextOffset, groupName, kMaxFieldText);
}

int16_t DatagramView::Type() const {
    return HasHeader() ? ReadInt16(m_data) : int16_t{0};
}

int16_t DatagramView::Subtype() const {
    return HasHeader() ? ReadInt16(m_data + 2) : int16_t{0};
}

std::optional<int16_t> DatagramView::Int16At(size_t offset) const {
    if (offset > m_size || m_size - offset < 2) {
        return std::nullopt;
    }
    return ReadInt16(m_data + offset);
}

std::string_view DatagramView::TextViewAt(size_t offset, size_t width) const {
    if (offset >= m_size) {
        return {};
    }
    const size_t limit = std::min(m_size - offset, width);
    const uint8_t* start = m_data + offset;
    const auto* nul = static_cast<const uint8_t*>(std::memchr(start, 0, limit));
    const size_t length = nul != nullptr ? static_cast<size_t>(nul - start) : limit;
    return std::string_view(reinterpret_cast<const char*>(start), length);
}

std::string DatagramView::TextAt(size_t offset, size_t width) const {
    return std::string(TextViewAt(offset, width));
}
