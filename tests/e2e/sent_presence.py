#!/usr/bin/env python3
"""Prints one line per presence datagram that leaves this host from SOURCE to
port 23654, as the host hands it to its network device:
'<unix time> <status> <name>|<group>'. Run it inside the sender's network
namespace. A socket filter lets only outgoing packets in, so a flood that
arrives at the same host neither slows it down nor crowds the sender's
datagrams out; and a datagram that the receiving side drops under that flood
is still seen here.

  sent_presence.py SOURCE"""
import ctypes
import socket
import struct
import sys
import time

PORT = 23654
ETH_P_ALL = 0x0003  # only such sockets see what the host sends
ETH_P_IP = 0x0800
SO_ATTACH_FILTER = 26
PACKET_OUTGOING = 4
SKF_AD_PROTOCOL = 0xFFFFF000  # SKF_AD_OFF + 0
SKF_AD_PKTTYPE = 0xFFFFF000 + 4

# IPv4 going out, or nothing: ld protocol; jeq IP; ld pkttype; jeq OUTGOING.
FILTER = [(0x20, 0, 0, SKF_AD_PROTOCOL), (0x15, 0, 3, ETH_P_IP),
          (0x20, 0, 0, SKF_AD_PKTTYPE), (0x15, 0, 1, PACKET_OUTGOING),
          (0x06, 0, 0, 0xFFFF), (0x06, 0, 0, 0)]


def attach_filter(sock):
    code = b"".join(struct.pack("HBBI", *op) for op in FILTER)
    buffer = ctypes.create_string_buffer(code)
    program = struct.pack("HL", len(FILTER), ctypes.addressof(buffer))
    sock.setsockopt(socket.SOL_SOCKET, SO_ATTACH_FILTER, program)


def main():
    wanted = socket.inet_aton(sys.argv[1])
    sock = socket.socket(socket.AF_PACKET, socket.SOCK_DGRAM, socket.htons(ETH_P_ALL))
    attach_filter(sock)
    print("ready", file=sys.stderr, flush=True)
    while True:
        data = sock.recv(4096)
        now = time.time()
        if len(data) < 20 or data[9] != 17 or data[12:16] != wanted:
            continue
        udp = data[(data[0] & 0x0F) * 4:]
        if len(udp) < 8 + 54 or int.from_bytes(udp[2:4], "big") != PORT:
            continue
        payload = udp[8:]
        if struct.unpack_from("<hh", payload) != (1, 1):
            continue
        status = struct.unpack_from("<h", payload, 4)[0]
        name = payload[6:54].split(b"\0", 1)[0].decode("cp1250", "replace")
        group = payload[54:102].split(b"\0", 1)[0].decode("cp1250", "replace")
        print("%.6f %d %s|%s" % (now, status, name, group), flush=True)


if __name__ == "__main__":
    main()
