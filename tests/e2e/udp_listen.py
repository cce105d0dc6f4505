#!/usr/bin/env python3
"""Waits for one presence datagram on port 23654 and prints
'<sender> <length> <status> <destination> <name>', where destination is the
address the datagram was sent to; exits 1 when none comes in time."""
import socket
import struct
import sys

IP_PKTINFO = getattr(socket, "IP_PKTINFO", 8)  # Linux

timeout = float(sys.argv[1]) if len(sys.argv) > 1 else 10.0
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.setsockopt(socket.IPPROTO_IP, IP_PKTINFO, 1)
sock.bind(("0.0.0.0", 23654))
sock.settimeout(timeout)
try:
    while True:
        data, ancillary, _flags, (sender, _port) = sock.recvmsg(2048, 256)
        if len(data) >= 6 and struct.unpack_from("<hh", data) == (1, 1):
            destination = "?"
            for level, kind, payload in ancillary:
                # struct in_pktinfo: interface index, local address, header destination
                if level == socket.IPPROTO_IP and kind == IP_PKTINFO and len(payload) >= 12:
                    destination = socket.inet_ntoa(payload[8:12])
            status = struct.unpack_from("<h", data, 4)[0]
            name = data[6:54].split(b"\0", 1)[0].decode("cp1250")
            print(sender, len(data), status, destination, name)
            sys.exit(0)
except socket.timeout:
    sys.exit(1)
