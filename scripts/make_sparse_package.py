#!/usr/bin/env python3
"""Builds NorrvaneShLnk's sparse package (.msix), unsigned, and its logo.

usage: make_sparse_package.py --manifest installer/AppxManifest.xml
           (--publisher "CN=..." | --signer-subject "CN=...")
           --version 1.0.2.0 --architecture x64|arm64 --out X.msix
           [--logo-out NorrvaneShLnk.png] [--print-family]

The publisher must be the signing certificate's subject as Windows writes
it; --signer-subject takes the subject as openssl prints it with
`-nameopt RFC2253` and writes it so. The architecture is the DLL's, which
the package's surrogate process loads.

With --print-family it prints the package's family name, the identity's
name and the publisher's id as Windows derives it from the publisher: the
installer finds the package by it, in every version.

The package holds the filled-in manifest, its block map and the content
types, nothing else: the DLL and the logo stay in the install folder, which
Windows is given as the package's external location. Sign the result with
osslsigncode 2.9 or later; it appends AppxSignature.p7x.

Two builds of the same input are byte for byte the same: every entry carries
the date of SOURCE_DATE_EPOCH (seconds since 1970, UTC), or 1980-01-01 00:00
when it is not set.
"""
import argparse
import base64
import hashlib
import os
import re
import struct
import sys
import time
import xml.etree.ElementTree as ElementTree
import zlib
from xml.sax.saxutils import escape

BLOCK_SIZE = 65536
LOCAL_HEADER_SIZE = 30
MANIFEST = "AppxManifest.xml"
BLOCK_MAP = "AppxBlockMap.xml"
CONTENT_TYPES = "[Content_Types].xml"

# The signer (osslsigncode) adds the signature Override only where it does
# not find this exact text, and then rewrites [Content_Types].xml in a way
# that corrupts a stored one; written here in full, the file is left alone.
CONTENT_TYPES_XML = (
    '<?xml version="1.0" encoding="UTF-8"?>\n'
    '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
    '<Default Extension="xml" ContentType="application/vnd.ms-appx.manifest+xml"/>'
    '<Override PartName="/AppxBlockMap.xml" ContentType="application/vnd.ms-appx.blockmap+xml"/>'
    '<Override PartName="/AppxSignature.p7x" ContentType="application/vnd.ms-appx.signature"/>'
    '<Override PartName="/AppxMetadata/CodeIntegrity.cat" ContentType="application/vnd.ms-pkiseccat"/>'
    '</Types>'
).encode("utf-8")

PLACEHOLDERS = ("@PUBLISHER@", "@VERSION@", "@ARCHITECTURE@")
ARCHITECTURES = ("x64", "arm64")


class BuildError(Exception):
    pass


# Windows' names of a subject's attributes, by openssl's short names.
WINDOWS_ATTRIBUTE_NAMES = {
    "CN": "CN", "C": "C", "L": "L", "ST": "S", "O": "O", "OU": "OU", "emailAddress": "E", "street": "STREET",
    "title": "T", "GN": "G", "initials": "I", "SN": "SN", "serialNumber": "SERIALNUMBER", "DC": "DC",
    "description": "Description", "postalCode": "PostalCode", "postOfficeBox": "POBox",
    "telephoneNumber": "Phone", "x121Address": "X21Address", "dnQualifier": "dnQualifier",
}


def windows_value(value):
    """A value as Windows writes it in a name: in double quotes, a quote in it
    doubled, when it is empty, starts or ends with a blank or holds a
    character that separates or marks parts of a name."""
    if value and value == value.strip(" ") and not re.search(r'[,+="\n<>#;]', value):
        return value
    return '"' + value.replace('"', '""') + '"'


def publisher_of_subject(subject):
    """The subject that openssl prints with -nameopt RFC2253 (the last part
    first, as Windows writes it too; parts separated by a comma; a special
    character escaped with a backslash, a byte as a backslash and two hex
    digits) as Windows writes a signer's subject, which the manifest's
    Publisher must equal."""
    parts, at = [], 0
    while True:
        key = re.match(r"([A-Za-z][A-Za-z0-9-]*)=", subject[at:])
        if not key or key.group(1) not in WINDOWS_ATTRIBUTE_NAMES:
            raise BuildError(f"the signer's subject {subject!r}: no attribute Windows names at {subject[at:]!r}")
        at += key.end()
        if subject[at:at + 1] == "#":
            raise BuildError(f"the signer's subject {subject!r}: {key.group(1)} holds a value of no text type")
        value = bytearray()
        while at < len(subject) and subject[at] not in ",+":
            if subject[at] != "\\":
                value += subject[at].encode("utf-8")
                at += 1
            elif re.fullmatch(r"[0-9A-Fa-f]{2}", subject[at + 1:at + 3]):
                value.append(int(subject[at + 1:at + 3], 16))
                at += 3
            elif at + 1 < len(subject):
                value += subject[at + 1].encode("utf-8")
                at += 2
            else:
                raise BuildError(f"the signer's subject {subject!r} ends in a backslash")
        parts.append(WINDOWS_ATTRIBUTE_NAMES[key.group(1)] + "=" + windows_value(value.decode("utf-8")))
        if at == len(subject):
            return ", ".join(parts)
        # A manifest's Publisher has no way to write a part of several values.
        if subject[at] == "+":
            raise BuildError(f"the signer's subject {subject!r} has a part of several values")
        at += 1


def fill_manifest(template, publisher, version, architecture):
    """The template with the publisher (XML-escaped), version and architecture put in."""
    if not re.fullmatch(r"\d+(\.\d+){3}", version) or any(int(f) > 65535 for f in version.split(".")):
        raise BuildError(f"version {version!r}: four fields of 0 to 65535 are needed, as 1.0.2.0")
    if not publisher.strip():
        raise BuildError("the publisher is empty")
    for placeholder in PLACEHOLDERS:
        if template.count(placeholder) != 1:
            raise BuildError(f"the template must hold {placeholder} once, not {template.count(placeholder)} times")
    # A line break or tab written as itself in an attribute is read back as a
    # blank: as a character reference it stays what it is.
    entities = {'"': "&quot;", "'": "&apos;", "\n": "&#10;", "\r": "&#13;", "\t": "&#9;"}
    text = template.replace("@PUBLISHER@", escape(publisher, entities))
    text = text.replace("@VERSION@", version).replace("@ARCHITECTURE@", architecture)
    left = re.search(r"@[A-Z_]+@", text)
    if left:
        raise BuildError(f"the template holds {left.group(0)}, which nothing fills in")
    try:
        ElementTree.fromstring(text.encode("utf-8"))
    except ElementTree.ParseError as error:
        raise BuildError(f"the filled-in manifest is not well-formed XML: {error}") from None
    return text.encode("utf-8")


def publisher_id(publisher):
    """Windows' id of a publisher: the first 64 bits of the SHA-256 of its
    UTF-16 text and one zero bit, in 13 characters of base 32."""
    digest = int.from_bytes(hashlib.sha256(publisher.encode("utf-16-le")).digest()[:8], "big") << 1
    alphabet = "0123456789abcdefghjkmnpqrstvwxyz"
    return "".join(alphabet[(digest >> shift) & 31] for shift in range(60, -5, -5))


def package_family(manifest, publisher):
    """The family name of the package that the filled-in manifest describes."""
    foundation = "{http://schemas.microsoft.com/appx/manifest/foundation/windows10}"
    identity = ElementTree.fromstring(manifest).find(f"{foundation}Identity")
    if identity is None or not identity.get("Name"):
        raise BuildError("the manifest has no Identity with a Name")
    return f"{identity.get('Name')}_{publisher_id(publisher)}"


def deflate_in_blocks(data):
    """Raw DEFLATE data in which every 64 KiB block of the input is
    compressed on its own: a full flush ends each block on a byte boundary
    with no reference back into the previous one, so a reader can inflate
    any block alone and check it against the block map. Returns the data
    and the compressed size of each block; the last block ends the stream."""
    if not data:
        raise BuildError("an empty file has no blocks")
    compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
    pieces = []
    for start in range(0, len(data), BLOCK_SIZE):
        last = start + BLOCK_SIZE >= len(data)
        piece = compressor.compress(data[start:start + BLOCK_SIZE])
        piece += compressor.flush(zlib.Z_FINISH if last else zlib.Z_FULL_FLUSH)
        pieces.append(piece)
    return b"".join(pieces), [len(p) for p in pieces]


def deflate(data):
    compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
    return compressor.compress(data) + compressor.flush()


def block_map(payload):
    """AppxBlockMap.xml for payload, a list of (name, data, block sizes)."""
    lines = ['<?xml version="1.0" encoding="UTF-8"?>\n',
             '<BlockMap xmlns="http://schemas.microsoft.com/appx/2010/blockmap"'
             ' HashMethod="http://www.w3.org/2001/04/xmlenc#sha256">']
    for name, data, sizes in payload:
        lfh_size = LOCAL_HEADER_SIZE + len(name.encode("utf-8"))
        lines.append(f'<File Name="{escape(name.replace("/", chr(92)))}" Size="{len(data)}" LfhSize="{lfh_size}">')
        for index, size in enumerate(sizes):
            digest = hashlib.sha256(data[index * BLOCK_SIZE:(index + 1) * BLOCK_SIZE]).digest()
            lines.append(f'<Block Hash="{base64.b64encode(digest).decode("ascii")}" Size="{size}"/>')
        lines.append("</File>")
    lines.append("</BlockMap>")
    return "".join(lines).encode("utf-8")


def dos_date_time(epoch):
    """The DOS date and time fields of a moment given in seconds since 1970
    (UTC), to the two seconds DOS keeps; before 1980 it is 1980-01-01."""
    t = time.gmtime(max(epoch, 315532800))
    if t.tm_year > 2107:
        raise BuildError(f"SOURCE_DATE_EPOCH {epoch} is past what a ZIP date holds (2107)")
    return (t.tm_year - 1980) << 9 | t.tm_mon << 5 | t.tm_mday, t.tm_hour << 11 | t.tm_min << 5 | t.tm_sec // 2


def write_zip(entries, date, clock):
    """A ZIP of (name, uncompressed data, deflated data) in the given order.

    Plain ZIP, not ZIP64: every local header and central directory record
    has no extra field, no data descriptor follows the data (flags 0, sizes
    in the local header) and the end record closes the file with no comment.
    osslsigncode 2.9 rewrites this layout into a valid signed package; it
    drops CD extra fields other than ZIP64 while keeping their length, and
    finds no end record behind an archive comment. Windows accepts plain ZIP
    packages as long as they are smaller than 4 GiB, which this one is."""
    out = bytearray()
    directory = bytearray()
    for name, data, packed in entries:
        raw_name = name.encode("utf-8")
        crc = zlib.crc32(data)
        offset = len(out)
        # signature, version needed 2.0, flags, method 8 (deflate), time, date,
        # CRC-32, compressed size, size, name length, extra length
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 8, clock, date,
                           crc, len(packed), len(data), len(raw_name), 0)
        out += raw_name + packed
        # signature, made by (MS-DOS, 2.0), version needed, flags, method, time,
        # date, CRC-32, sizes, name/extra/comment lengths, disk, internal and
        # external attributes, local header offset
        directory += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 8, clock, date,
                                 crc, len(packed), len(data), len(raw_name), 0, 0, 0, 0, 0, offset)
        directory += raw_name
    if len(out) + len(directory) >= 0xFFFFFFFF:
        raise BuildError("the package would need ZIP64")
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries),
                      len(directory), len(out), 0)
    return bytes(out + directory + end)


def build_package(manifest, epoch):
    packed, sizes = deflate_in_blocks(manifest)
    blocks = block_map([(MANIFEST, manifest, sizes)])
    date, clock = dos_date_time(epoch)
    # Payload and manifest first, then the block map, and the content types
    # last: the signer appends the signature after them.
    return write_zip([(MANIFEST, manifest, packed),
                      (BLOCK_MAP, blocks, deflate(blocks)),
                      (CONTENT_TYPES, CONTENT_TYPES_XML, deflate(CONTENT_TYPES_XML))], date, clock)


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def logo_png(size=50, rgb=(0x2B, 0x5F, 0x8C)):
    """A square PNG of one colour, 8-bit RGB, rows unfiltered."""
    header = struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0)
    rows = (b"\0" + bytes(rgb) * size) * size
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header)
            + png_chunk(b"IDAT", zlib.compress(rows, 9)) + png_chunk(b"IEND", b""))


def source_date_epoch():
    value = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not value:
        return 0
    if not value.isdigit():
        raise BuildError(f"SOURCE_DATE_EPOCH {value!r} is not a count of seconds")
    return int(value)


def write_file(path, data):
    temporary = path + ".tmp"
    with open(temporary, "wb") as f:
        f.write(data)
    os.replace(temporary, path)


def main(argv):
    parser = argparse.ArgumentParser(description="Builds NorrvaneShLnk's sparse package (unsigned).")
    parser.add_argument("--manifest", required=True, help="the manifest template (installer/AppxManifest.xml)")
    publisher = parser.add_mutually_exclusive_group(required=True)
    publisher.add_argument("--publisher", help="the signing certificate's subject as Windows writes it, as CN=...")
    publisher.add_argument("--signer-subject",
                           help="the signing certificate's subject as openssl -nameopt RFC2253 prints it")
    parser.add_argument("--version", required=True, help="the package version, four fields")
    parser.add_argument("--architecture", required=True, choices=ARCHITECTURES, help="the DLL's architecture")
    parser.add_argument("--out", required=True, help="the .msix to write")
    parser.add_argument("--logo-out", help="also write the logo PNG the MSI installs beside the DLL")
    parser.add_argument("--print-family", action="store_true", help="print the package's family name")
    args = parser.parse_args(argv)
    try:
        with open(args.manifest, encoding="utf-8") as f:
            template = f.read()
        publisher = args.publisher if args.publisher is not None else publisher_of_subject(args.signer_subject)
        manifest = fill_manifest(template, publisher, args.version, args.architecture)
        write_file(args.out, build_package(manifest, source_date_epoch()))
        if args.logo_out:
            write_file(args.logo_out, logo_png())
        if args.print_family:
            print(package_family(manifest, publisher))
    except (BuildError, OSError) as error:
        print(f"make_sparse_package.py: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
