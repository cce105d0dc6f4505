#!/usr/bin/env python3
"""Waits for one presence datagram on port 23654 and prints
'<sender> <length> <status> <name>'; exits 1 when none comes in time."""
import socket
import struct
import sys

timeout = float(sys.argv[1]) if len(sys.argv) > 1 else 10.0
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind(("0.0.0.0", 23654))
sock.settimeout(timeout)
try:
    while True:
        data, (sender, _port) = sock.recvfrom(2048)
        if len(data) >= 6 and struct.unpack_from("<hh", data) == (1, 1):
            status = struct.unpack_from("<h", data, 4)[0]
            name = data[6:54].split(b"\0", 1)[0].decode("cp1250")
            print(sender, len(data), status, name)
            sys.exit(0)
except socket.timeout:
    sys.exit(1)
