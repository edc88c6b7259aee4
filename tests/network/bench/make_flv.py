#!/usr/bin/env python3
"""Writes an FLV file of about SIZE MiB: a header, then alternating video (H.263 key
frames) and audio (MP3) tags with random payloads, 25 video frames a second."""
import os
import struct
import sys


def tag(kind, ms, payload):
    head = struct.pack(">B", kind) + len(payload).to_bytes(3, "big") + (ms & 0xFFFFFF).to_bytes(3, "big")
    head += bytes([(ms >> 24) & 0xFF]) + b"\0\0\0"
    return head + payload + struct.pack(">I", 11 + len(payload))


def main():
    path, mib = sys.argv[1], int(sys.argv[2])
    target = mib * 1024 * 1024
    chunk = os.urandom(1 << 20)
    with open(path, "wb") as f:
        f.write(b"FLV\x01\x05\x00\x00\x00\x09" + b"\0\0\0\0")
        written, frame = 13, 0
        while written < target:
            ms = frame * 40
            video = bytes([0x12]) + chunk[(frame * 7919) % (len(chunk) - 70000):][:60000]
            audio = bytes([0x2F]) + chunk[(frame * 104729) % (len(chunk) - 2000):][:1000]
            block = tag(9, ms, video) + tag(8, ms, audio)
            f.write(block)
            written += len(block)
            frame += 1


if __name__ == "__main__":
    main()
