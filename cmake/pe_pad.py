#!/usr/bin/python3
"""Pads a PE file with zero bytes to a multiple of 8 and rewrites its header checksum.

Authenticode signing pads the file to 8 bytes before it appends the signature, and removing the
signature leaves that padding behind. Padding the unsigned file the same way makes "signed, then
signature removed" give back exactly the unsigned bytes. The checksum covers the file's length,
so it is computed again.

Usage: pe_pad.py FILE
"""
import struct
import sys


def pe_checksum(data, checksum_offset):
    total = 0
    if len(data) % 2:
        data += b"\0"
    for (word,) in struct.iter_unpack("<H", data):
        total += word
    total -= struct.unpack_from("<H", data, checksum_offset)[0]
    total -= struct.unpack_from("<H", data, checksum_offset + 2)[0]
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


def main():
    path = sys.argv[1]
    with open(path, "rb") as f:
        data = f.read()
    data += b"\0" * (-len(data) % 8)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"{path}: not a PE file")
    checksum_offset = pe + 24 + 64  # the same place in PE32 and PE32+ optional headers
    data = bytearray(data)
    struct.pack_into("<I", data, checksum_offset, pe_checksum(bytes(data), checksum_offset))
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
