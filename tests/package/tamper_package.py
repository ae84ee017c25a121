#!/usr/bin/env python3
"""Changes one entry of a package the way an attacker or a broken copy would,
for tests that expect the change to be caught.

usage: tamper_package.py IN OUT ENTRY flip
           flips the low bit of the middle byte of the entry's stored data
       tamper_package.py IN OUT ENTRY edit OLD NEW
           replaces OLD by NEW (once, same length) in the entry's text and
           packs it again with matching CRC, sizes and offsets, so the ZIP
           stays valid and only the content differs
"""
import struct
import sys
import zipfile
import zlib


def main(source, target, name, mode, *edit):
    data = bytearray(open(source, "rb").read())
    with zipfile.ZipFile(source) as archive:
        infos = archive.infolist()
        contents = {i.filename: archive.read(i.filename) for i in infos}
    chosen = next(i for i in infos if i.filename == name)
    if mode == "flip":
        data[chosen.header_offset + 30 + len(name.encode()) + chosen.compress_size // 2] ^= 1
        open(target, "wb").write(data)
        return 0
    old, new = (s.encode("utf-8") for s in edit)
    text = contents[name]
    if text.count(old) != 1 or len(old) != len(new):
        print(f"tamper_package.py: {name} holds {old!r} {text.count(old)} times", file=sys.stderr)
        return 1
    text = text.replace(old, new)
    compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
    packed = compressor.compress(text) + compressor.flush()

    out, directory = bytearray(), bytearray()
    cd_offset = struct.unpack("<I", data[-6:-2])[0]
    pos = cd_offset
    for info in infos:  # local headers and directory records are in the same order, without extra fields
        start = info.header_offset
        header = bytearray(data[start:start + 30 + len(info.filename.encode())])
        stored = data[start + len(header):start + len(header) + info.compress_size]
        record_length = 46 + len(info.filename.encode())
        record = bytearray(data[pos:pos + record_length])
        pos += record_length
        if info.filename == name:
            stored = packed
            struct.pack_into("<III", header, 14, zlib.crc32(text), len(packed), len(text))
            struct.pack_into("<III", record, 16, zlib.crc32(text), len(packed), len(text))
        struct.pack_into("<I", record, 42, len(out))
        out += header + stored
        directory += record
    end = bytearray(data[-22:])
    struct.pack_into("<II", end, 12, len(directory), len(out))
    open(target, "wb").write(out + directory + end)
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
