#!/usr/bin/env python3
"""Waits for a presence datagram on port 23654 and prints
'<sender> <length> <status> <destination> <name>', where destination is the
address the datagram was sent to; exits 1 when none comes in time.

  udp_listen.py [TIMEOUT [LINGER]]

With LINGER, every further presence datagram of the LINGER seconds after the
first one is printed too, one a line."""
import socket
import struct
import sys
import time

IP_PKTINFO = getattr(socket, "IP_PKTINFO", 8)  # Linux

timeout = float(sys.argv[1]) if len(sys.argv) > 1 else 10.0
linger = float(sys.argv[2]) if len(sys.argv) > 2 else 0.0
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.setsockopt(socket.IPPROTO_IP, IP_PKTINFO, 1)
sock.bind(("0.0.0.0", 23654))
sock.settimeout(timeout)
until = None
heard = 0
while until is None or time.monotonic() < until:
    try:
        data, ancillary, _flags, (sender, _port) = sock.recvmsg(2048, 256)
    except socket.timeout:
        break
    if len(data) >= 6 and struct.unpack_from("<hh", data) == (1, 1):
        destination = "?"
        for level, kind, payload in ancillary:
            # struct in_pktinfo: interface index, local address, header destination
            if level == socket.IPPROTO_IP and kind == IP_PKTINFO and len(payload) >= 12:
                destination = socket.inet_ntoa(payload[8:12])
        status = struct.unpack_from("<h", data, 4)[0]
        name = data[6:54].split(b"\0", 1)[0].decode("cp1250")
        print(sender, len(data), status, destination, name, flush=True)
        heard += 1
        if until is None:
            if linger <= 0:
                break
            until = time.monotonic() + linger
    if until is not None:
        sock.settimeout(max(until - time.monotonic(), 0.001))
sys.exit(0 if heard else 1)
