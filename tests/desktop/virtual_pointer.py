#!/usr/bin/python3
"""Gives a headless compositor a pointer: sway's headless backend has no input devices, so its
seat offers clients no pointer and `swaymsg seat - cursor ...` clicks reach nobody. This client
creates one virtual pointer (zwlr_virtual_pointer_manager_v1) on the default seat, prints "ready",
and keeps it until the compositor goes or the process is ended. Plain Wayland wire protocol over
the socket (native byte order), so nothing beyond Python is needed."""
import os
import socket
import struct
import sys


def message(obj, opcode, payload=b""):
    return struct.pack("=II", obj, ((8 + len(payload)) << 16) | opcode) + payload


def string(text):
    data = text.encode() + b"\0"
    return struct.pack("=I", len(data)) + data + b"\0" * (-len(data) % 4)


class Connection:
    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(path)
        self.buffer = b""

    def send(self, data):
        self.sock.sendall(data)

    def events(self):
        """Yields (object, opcode, payload) until the connection closes."""
        while True:
            while len(self.buffer) >= 8:
                obj, word = struct.unpack_from("=II", self.buffer)
                size = word >> 16
                if len(self.buffer) < size:
                    break
                yield obj, word & 0xFFFF, self.buffer[8:size]
                self.buffer = self.buffer[size:]
            chunk = self.sock.recv(65536)
            if not chunk:
                return
            self.buffer += chunk

    def roundtrip(self, callback_id, on_event):
        self.send(message(1, 0, struct.pack("=I", callback_id)))  # wl_display.sync
        for obj, opcode, payload in self.events():
            if obj == callback_id and opcode == 0:
                return
            if obj == 1 and opcode == 0:  # wl_display.error
                sys.exit("virtual_pointer: protocol error %r" % payload)
            on_event(obj, opcode, payload)
        sys.exit("virtual_pointer: the compositor closed the connection")


def main():
    path = os.path.join(os.environ["XDG_RUNTIME_DIR"], os.environ.get("WAYLAND_DISPLAY", "wayland-0"))
    conn = Connection(path)
    globals_ = {}

    def on_global(obj, opcode, payload):
        if obj == 2 and opcode == 0:  # wl_registry.global(name, interface, version)
            name, length = struct.unpack_from("=II", payload)
            interface = payload[8:8 + length - 1].decode()
            version = struct.unpack_from("=I", payload, 8 + length + (-length % 4))[0]
            globals_[interface] = (name, version)

    conn.send(message(1, 1, struct.pack("=I", 2)))  # wl_display.get_registry -> 2
    conn.roundtrip(3, on_global)
    for needed in ("wl_seat", "zwlr_virtual_pointer_manager_v1"):
        if needed not in globals_:
            sys.exit("virtual_pointer: the compositor offers no %s" % needed)

    def bind(interface, new_id):
        name = globals_[interface][0]
        conn.send(message(2, 0, struct.pack("=I", name) + string(interface) + struct.pack("=II", 1, new_id)))

    bind("wl_seat", 4)
    bind("zwlr_virtual_pointer_manager_v1", 5)
    conn.send(message(5, 0, struct.pack("=II", 4, 6)))  # create_virtual_pointer(seat, id)
    conn.roundtrip(7, lambda *event: None)
    print("ready", flush=True)
    for _ in conn.events():
        pass


if __name__ == "__main__":
    main()
