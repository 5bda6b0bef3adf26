#!/usr/bin/env python3
"""Checks that the program greets a WebSocket client with its banner.

    greet.py PORT VERSION [SECONDS]

Connects to 127.0.0.1:PORT (retrying for SECONDS, default 60, while the
program starts), opens a WebSocket and reads the first message.
"""
import base64
import os
import socket
import sys
import time


def read_exactly(sock, count, data):
    while len(data) < count:
        chunk = sock.recv(4096)
        if not chunk:
            raise ConnectionError("connection closed")
        data += chunk
    return data


def first_message(port):
    with socket.create_connection(("127.0.0.1", port), timeout=10) as sock:
        key = base64.b64encode(os.urandom(16)).decode()
        sock.sendall((f"GET / HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nUpgrade: websocket\r\n"
                      f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                      "Sec-WebSocket-Version: 13\r\n\r\n").encode())
        data = b""
        while b"\r\n\r\n" not in data:
            data = read_exactly(sock, len(data) + 1, data)
        head, data = data.split(b"\r\n\r\n", 1)
        status = head.split(b"\r\n")[0].decode()
        if " 101 " not in status + " ":
            raise ConnectionError(f"handshake answered {status}")
        data = read_exactly(sock, 2, data)
        opcode, length, start = data[0] & 0x0F, data[1] & 0x7F, 2
        if length == 126:
            data = read_exactly(sock, 4, data)
            length, start = int.from_bytes(data[2:4], "big"), 4
        data = read_exactly(sock, start + length, data)
        if opcode != 1:
            raise ConnectionError(f"first message has opcode {opcode}, not text")
        return data[start:start + length].decode()


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    port, version = int(sys.argv[1]), sys.argv[2]
    deadline = time.monotonic() + (float(sys.argv[3]) if len(sys.argv) == 4 else 60.0)
    expected = f"corvel studio plugin loader\nversion {version}"
    while True:
        try:
            banner = first_message(port)
            break
        except (ConnectionRefusedError, ConnectionResetError):
            if time.monotonic() > deadline:
                sys.exit(f"greet: nothing listens on port {port}")
            time.sleep(0.2)
    if banner != expected:
        sys.exit(f"greet: the banner is {banner!r}, not {expected!r}")


if __name__ == "__main__":
    main()
