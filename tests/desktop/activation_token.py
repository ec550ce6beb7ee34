#!/usr/bin/env python3
"""Prints an XDG activation token from the running Wayland compositor, the
way a launcher gets one before it starts a program: over the Wayland wire
protocol, so the test needs no toolkit."""
import os
import socket
import struct
import sys


def message(obj, opcode, payload=b""):
    return struct.pack("<II", obj, ((8 + len(payload)) << 16) | opcode) + payload


def string(s):
    data = s.encode() + b"\0"
    return struct.pack("<I", len(data)) + data + b"\0" * (-len(data) % 4)


def read_string(payload, at):
    (length,) = struct.unpack_from("<I", payload, at)
    text = payload[at + 4:at + 4 + length - 1].decode()
    return text, at + 4 + length + (-length % 4)


def events(sock):
    buffer = b""
    while True:
        chunk = sock.recv(4096)
        if not chunk:
            sys.exit("the compositor closed the connection")
        buffer += chunk
        while len(buffer) >= 8:
            obj, word = struct.unpack_from("<II", buffer)
            size = word >> 16
            if len(buffer) < size:
                break
            yield obj, word & 0xFFFF, buffer[8:size]
            buffer = buffer[size:]


def main():
    path = os.path.join(os.environ["XDG_RUNTIME_DIR"], os.environ.get("WAYLAND_DISPLAY", "wayland-0"))
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    sock.connect(path)
    display, registry, sync, activation, token = 1, 2, 3, 4, 5
    sock.sendall(message(display, 1, struct.pack("<I", registry)) +
                 message(display, 0, struct.pack("<I", sync)))
    stream = events(sock)
    name = None
    for obj, opcode, payload in stream:
        if obj == display and opcode == 0:
            sys.exit("Wayland error: " + read_string(payload, 8)[0])
        if obj == registry and opcode == 0:
            (global_name,) = struct.unpack_from("<I", payload)
            interface, _ = read_string(payload, 4)
            if interface == "xdg_activation_v1":
                name = global_name
        if obj == sync and opcode == 0:
            break
    if name is None:
        sys.exit("the compositor offers no xdg_activation_v1")
    sock.sendall(message(registry, 0, struct.pack("<I", name) + string("xdg_activation_v1") +
                         struct.pack("<II", 1, activation)) +
                 message(activation, 1, struct.pack("<I", token)) +
                 message(token, 3))
    for obj, opcode, payload in stream:
        if obj == display and opcode == 0:
            sys.exit("Wayland error: " + read_string(payload, 8)[0])
        if obj == token and opcode == 0:
            print(read_string(payload, 0)[0])
            return


main()
