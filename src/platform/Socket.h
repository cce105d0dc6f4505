// src/platform/Socket.h
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The operating system's IPv4 datagram sockets. Error codes are the system's
// own (errno on POSIX, WSAGetLastError on Windows); 0 means success.
namespace platform {

using SocketHandle = intptr_t;
inline constexpr SocketHandle kInvalidSocket = -1;

// Initialises the socket library for the calling thread (WSAStartup on Windows;
// nothing on POSIX). Returns an error code.
int InitSocketLibrary();

// A UDP socket bound to the port on all interfaces (0: any free port). Only a
// SocketReceiver waits for datagrams on it: ReceiveDatagram() answers at once,
// and a send waits at most briefly for room in the send buffer.
SocketHandle OpenUdpSocket(uint16_t port, int& error);
uint16_t BoundPort(SocketHandle socket);
int SetBroadcastOption(SocketHandle socket);
// Asks for a receive buffer of this many bytes; returns the size the system
// then reports (Linux caps the request and reports twice what it keeps for
// data), or -1 when it cannot be read.
int RequestReceiveBuffer(SocketHandle socket, int bytes);
int SendDatagram(SocketHandle socket, uint32_t address, uint16_t port, const void* data,
                 size_t size);
// The same without waiting for room in the send buffer: a full buffer fails it.
int SendDatagramNow(SocketHandle socket, uint32_t address, uint16_t port, const void* data,
                    size_t size);

struct ReceivedDatagram {
    int bytes = 0;       // > 0 read, 0 nothing to read, < 0 failed (see error)
    int error = 0;       // the failure's code; MessageTooLongCode() when cut short
    std::string sender;  // dotted IPv4 address
};
// Reads one datagram into buffer[0..capacity); a longer one is consumed and
// reported as a failure with MessageTooLongCode().
ReceivedDatagram ReceiveDatagram(SocketHandle socket, void* buffer, size_t capacity);

void ShutDownSocket(SocketHandle socket);
void CloseSocket(SocketHandle socket);

// Host-order IPv4 address of a dotted text, or nothing.
std::optional<uint32_t> ParseDottedAddress(const std::string& text);
std::string FormatDottedAddress(uint32_t address);
// First IPv4 address the name resolves to; on failure nothing and the error code.
std::optional<uint32_t> ResolveHost(const std::string& name, int& error);

// One IPv4 address of a local interface. Addresses are in host order.
struct InterfaceAddress {
    uint32_t address = 0;
    uint32_t broadcast = 0;  // the directed broadcast address of its network; 0: none
    uint32_t netmask = 0;    // of its network; 0: unknown
    bool up = false;
    bool loopback = false;
    bool broadcastCapable = false;
    // The limited broadcast 255.255.255.255 leaves by this interface (the
    // route for it points here), so it reaches this interface's networks anyway.
    bool carriesLimitedBroadcast = false;
};
// Every IPv4 address of the local interfaces, loopback included, in system order.
std::vector<InterfaceAddress> LocalInterfaces();
// Whether the system's route to the address (host order) leads through a
// router, or out of an interface that carries no broadcasts (a tunnel): this
// computer's broadcasts do not reach it there. False when it has no route or
// cannot tell.
bool IsBeyondRouter(uint32_t address);

// The system's text for an error code as UTF-8, converted from the locale's
// encoding (on Windows from the ANSI code page).
std::string SocketErrorMessage(int code);
int InvalidArgumentCode();
int MessageTooLongCode();
// True for "host unreachable" and "network unreachable", which a presence
// broadcast ignores.
bool IsUnreachableCode(int code);

}  // namespace platform
