#!/usr/bin/env python3
"""Writes src/hfs/volume_template.cpp: the seven blocks of the empty 1.44 MB
HFS volume that formatting writes, each packed with PackBits.

The blocks hold no label and no dates; formatting patches those in. The
catalog leaf holds a placeholder root folder record named "Untitled" (8
characters), so the thread record's name starts at offset 122 and the Desktop
file's dates at 212 and 216; formatting replaces that record with one built
from the real label.

Usage: scripts/make_volume_template.py > src/hfs/volume_template.cpp
"""

import struct
import sys

BLOCK = 512


def u16(v):
    return struct.pack(">H", v)


def u32(v):
    return struct.pack(">I", v)


def put(block, offset, data):
    block[offset:offset + len(data)] = data


def mdb(alternate):
    b = bytearray(BLOCK)
    put(b, 0, u16(0x4244))                      # signature
    put(b, 10, u16(0 if alternate else 0x0100))  # attributes: unmounted cleanly
    put(b, 12, u16(0 if alternate else 1))      # files in the root folder
    put(b, 14, u16(3))                          # first bitmap block
    put(b, 16, u16(0 if alternate else 44))     # next allocation search
    put(b, 18, u16(2874))                       # allocation blocks
    put(b, 20, u32(512))                        # allocation block size
    put(b, 24, u32(2048))                       # default clump size
    put(b, 28, u16(4))                          # first allocation block
    put(b, 30, u32(16 if alternate else 17))    # next catalog node ID
    put(b, 34, u16(2830 if alternate else 2829))  # free allocation blocks
    put(b, 70, u32(2 if alternate else 3225714838))  # write count
    put(b, 74, u32(11264))                      # extents clump size
    put(b, 78, u32(11264))                      # catalog clump size
    put(b, 84, u32(0 if alternate else 1))      # files on the volume
    put(b, 130, u32(11264))                     # extents file size
    put(b, 134, u16(0) + u16(22))               # its first extent
    put(b, 146, u32(11264))                     # catalog file size
    put(b, 150, u16(22) + u16(22))              # its first extent
    return b


def bitmap():
    b = bytearray(BLOCK)
    put(b, 0, b"\xff" * 5 + b"\xf8")
    return b


def header_node(depth, root, leaf_records, first_leaf, last_leaf, max_key, free_nodes, map_byte):
    b = bytearray(BLOCK)
    b[8] = 1                                    # header node
    put(b, 10, u16(3))
    put(b, 14, u16(depth) + u32(root) + u32(leaf_records) + u32(first_leaf) + u32(last_leaf))
    put(b, 32, u16(512) + u16(max_key) + u32(22) + u32(free_nodes))
    b[248] = map_byte
    for i, offset in enumerate((14, 120, 248, 504)):
        put(b, 510 - 2 * i, u16(offset))
    return b


def catalog_leaf():
    name = b"Untitled"
    key = bytes([len(name) + 6, 0]) + u32(1) + bytes([len(name)]) + name
    key += b"\0" * (len(key) % 2)
    folder = bytearray(70)
    folder[0] = 1
    put(folder, 4, u16(1))                      # valence
    put(folder, 6, u32(2))                      # folder ID
    thread_key = bytes([7, 0]) + u32(2) + b"\0\0"      # empty name, padded
    thread = bytearray(46)
    thread[0] = 3
    put(thread, 10, u32(1))
    desktop_name = b"Desktop"
    file_key = bytes([13, 0]) + u32(2) + bytes([len(desktop_name)]) + desktop_name
    f = bytearray(102)
    f[0] = 2
    put(f, 4, b"FNDR" + b"ERIK" + u16(0x4000))  # Finder information
    put(f, 20, u32(16))                         # file ID
    put(f, 36, u32(286) + u32(512))             # resource fork lengths
    put(f, 86, u16(44) + u16(1))                # resource fork's first extent
    records = [key + bytes(folder), thread_key + bytes(thread), file_key + bytes(f)]

    b = bytearray(BLOCK)
    b[8] = 0xFF                                 # leaf
    b[9] = 1                                    # height
    put(b, 10, u16(len(records)))
    offset = 14
    for i, record in enumerate(records):
        put(b, 510 - 2 * i, u16(offset))
        put(b, offset, record)
        offset += len(record)
    put(b, 510 - 2 * len(records), u16(offset))
    assert offset == 270
    return b


def desktop_resource_fork():
    b = bytearray(BLOCK)
    numbers = u32(256) + u32(256) + u32(0) + u32(30)
    put(b, 0, numbers)
    put(b, 256, numbers + u32(0) + u16(0) + u16(0) + u16(28) + u16(30) + u16(0xFFFF))
    return b


TEMPLATES = [
    (2, mdb(False)),
    (3, bitmap()),
    (4, header_node(0, 0, 0, 0, 0, 7, 21, 0x80)),
    (26, header_node(1, 1, 3, 1, 1, 37, 20, 0xC0)),
    (27, catalog_leaf()),
    (48, desktop_resource_fork()),
    (2878, mdb(True)),
]


def pack_bits(data):
    """Runs of 2 to 128 equal bytes become (257 - n, byte); the rest goes in
    literal runs of up to 128 bytes."""
    out = bytearray()
    literal = bytearray()

    def flush():
        if literal:
            out.append(len(literal) - 1)
            out.extend(literal)
            literal.clear()

    i = 0
    while i < len(data):
        run = 1
        while i + run < len(data) and run < 128 and data[i + run] == data[i]:
            run += 1
        if run >= 2:
            flush()
            out.append(257 - run)
            out.append(data[i])
            i += run
        else:
            literal.append(data[i])
            if len(literal) == 128:
                flush()
            i += 1
    flush()
    return bytes(out)


def unpack_bits(packed):
    out = bytearray()
    i = 0
    while i < len(packed):
        c = packed[i]
        i += 1
        if c < 128:
            out.extend(packed[i:i + c + 1])
            i += c + 1
        elif c > 128:
            out.extend(packed[i:i + 1] * (257 - c))
            i += 1
    return bytes(out)


def main():
    w = sys.stdout.write
    w("// Generated by scripts/make_volume_template.py; do not edit by hand.\n")
    w("// The blocks of the empty 1.44 MB volume, packed with PackBits. They hold\n")
    w("// no label and no dates: formatting patches those in.\n")
    w('#include "hfs/format.h"\n\nnamespace {\n\n')
    for number, block in TEMPLATES:
        packed = pack_bits(block)
        assert unpack_bits(packed) == bytes(block)
        w("// Block %d\nconstexpr uint8_t kBlock%d[] = {\n" % (number, number))
        for start in range(0, len(packed), 12):
            row = packed[start:start + 12]
            w("    " + " ".join("0x%02X," % x for x in row) + "\n")
        w("};\n\n")
    w("}  // namespace\n\n")
    w("const PackedBlock VolumeTemplate[kTemplateCount] = {\n")
    for number, _ in TEMPLATES:
        w("    {%d, sizeof kBlock%d, kBlock%d},\n" % (number, number, number))
    w("};\n")


if __name__ == "__main__":
    main()
