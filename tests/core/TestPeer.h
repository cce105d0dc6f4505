// tests/core/TestPeer.h
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/TestSockets.h"
#include "core/net/Packet.h"
#include "platform/Socket.h"

// Another computer on the loopback network: a plain UDP socket on a free port
// that hears what the program sends and sends to it from 127.0.0.1.
class TestPeer {
public:
    TestPeer() {
        int error = 0;
        m_socket = platform::OpenUdpSocket(0, error);
    }
    ~TestPeer() { platform::CloseSocket(m_socket); }
    TestPeer(const TestPeer&) = delete;
    TestPeer& operator=(const TestPeer&) = delete;

    uint16_t Port() const { return platform::BoundPort(m_socket); }

    // The next datagram, or nothing when none comes within the time.
    std::optional<std::vector<uint8_t>> Receive(
        std::chrono::milliseconds within = std::chrono::seconds(2)) {
        if (!testsock::WaitReadable(m_socket, within)) {
            return std::nullopt;
        }
        std::array<uint8_t, 600> buffer{};
        const auto got = platform::ReceiveDatagram(m_socket, buffer.data(), buffer.size());
        if (got.bytes <= 0) {
            return std::nullopt;
        }
        return std::vector<uint8_t>(buffer.begin(), buffer.begin() + got.bytes);
    }
    bool SendTo(uint16_t port, const PacketBuffer& packet, size_t length) {
        return platform::SendDatagram(m_socket, 0x7F000001, port, packet.data(), length) == 0;
    }
    bool SendRaw(uint16_t port, const std::vector<uint8_t>& bytes) {
        return platform::SendDatagram(m_socket, 0x7F000001, port, bytes.data(), bytes.size()) == 0;
    }

private:
    platform::SocketHandle m_socket = platform::kInvalidSocket;
};
