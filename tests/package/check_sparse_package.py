#!/usr/bin/env python3
"""Checks a sparse package built by scripts/make_sparse_package.py, signed or
not, from its bytes alone: the ZIP records, every entry's CRC, the block map
against the data, the content types, the manifest's identity and its one
Explorer command, and (with --logo) the logo the MSI installs beside the DLL.

usage: check_sparse_package.py PACKAGE --publisher "CN=..." --version 1.0.2.0
                               [--architecture x64|arm64] [--logo NorrvaneShLnk.png]

Prints an "ok: ..." line for each proof that holds, "FAILED: ..." for each
that does not, then "clsid: {...}" (the command's class, for a test that asks
the DLL whether it serves it). Exits 1 when anything failed.
"""
import argparse
import base64
import hashlib
import os
import re
import struct
import sys
import urllib.parse
import xml.etree.ElementTree as ElementTree
import zipfile
import zlib

BLOCK_SIZE = 65536
BLOCK_MAP = "AppxBlockMap.xml"
CONTENT_TYPES = "[Content_Types].xml"
MANIFEST = "AppxManifest.xml"
SIGNATURE = "AppxSignature.p7x"
NOT_IN_BLOCK_MAP = {BLOCK_MAP, CONTENT_TYPES, SIGNATURE}
DLL = "NorrvaneShLnk.dll"

NS = {
    "f": "http://schemas.microsoft.com/appx/manifest/foundation/windows10",
    "uap": "http://schemas.microsoft.com/appx/manifest/uap/windows10",
    "uap10": "http://schemas.microsoft.com/appx/manifest/uap/windows10/10",
    "desktop5": "http://schemas.microsoft.com/appx/manifest/desktop/windows10/5",
    "com": "http://schemas.microsoft.com/appx/manifest/com/windows10",
    "bm": "http://schemas.microsoft.com/appx/2010/blockmap",
    "ct": "http://schemas.openxmlformats.org/package/2006/content-types",
}
SHA256 = "http://www.w3.org/2001/04/xmlenc#sha256"
# The signer looks for these strings as they stand, and Windows looks up the
# signature's and the catalogue's part names through them.
OVERRIDES = (
    '<Override PartName="/AppxBlockMap.xml" ContentType="application/vnd.ms-appx.blockmap+xml"/>',
    '<Override PartName="/AppxSignature.p7x" ContentType="application/vnd.ms-appx.signature"/>',
    '<Override PartName="/AppxMetadata/CodeIntegrity.cat" ContentType="application/vnd.ms-pkiseccat"/>',
)
EXPECTED_TYPES = {
    MANIFEST: "application/vnd.ms-appx.manifest+xml",
    BLOCK_MAP: "application/vnd.ms-appx.blockmap+xml",
    SIGNATURE: "application/vnd.ms-appx.signature",
}
GUID = re.compile(r"\{?([0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12})\}?")


class Failed(Exception):
    pass


def require(condition, message):
    if not condition:
        raise Failed(message)


class Entry:
    def __init__(self, name, flags, method, crc, packed_size, size, offset):
        self.name, self.flags, self.method, self.crc = name, flags, method, crc
        self.packed_size, self.size, self.offset = packed_size, size, offset
        self.lfh_size = None

    def packed(self, data):
        start = self.offset + self.lfh_size
        return data[start:start + self.packed_size]


def read_records(data):
    """The entries from the central directory, each matched with its local
    header; the records must fill the file in order with nothing between."""
    require(len(data) >= 22 and data[-22:-18] == b"PK\x05\x06",
            "the end record is not the last 22 bytes (an archive comment or trailing data)")
    _, disk, cd_disk, count_here, count, cd_size, cd_offset, comment = struct.unpack("<IHHHHIIH", data[-22:])
    require(comment == 0 and disk == 0 and cd_disk == 0 and count_here == count, "the end record is not a one-disk one")
    require(cd_offset + cd_size == len(data) - 22, "the central directory does not end where the end record begins")
    entries, pos = [], cd_offset
    for _ in range(count):
        require(data[pos:pos + 4] == b"PK\x01\x02", f"no central directory record at {pos}")
        (flags, method, _, _, crc, packed_size, size, name_len, extra_len, comment_len,
         _, _, _, offset) = struct.unpack("<8xHHHHIIIHHHHHII", data[pos:pos + 46])
        name = data[pos + 46:pos + 46 + name_len].decode("utf-8")
        require(extra_len == 0 and comment_len == 0, f"{name}: its central directory record has an extra field or comment")
        entries.append(Entry(name, flags, method, crc, packed_size, size, offset))
        pos += 46 + name_len
    require(pos == len(data) - 22, "the central directory holds more than its records")
    lowered = [e.name.lower() for e in entries]
    require(len(set(lowered)) == len(lowered), "two entries have the same name")

    pos = 0
    for e in entries:
        require(e.offset == pos, f"{e.name}: its local record is at {e.offset}, not right after the one before ({pos})")
        require(data[pos:pos + 4] == b"PK\x03\x04", f"{e.name}: no local header at {pos}")
        flags, method, _, _, crc, packed_size, size, name_len, extra_len = struct.unpack("<6xHHHHIIIHH", data[pos:pos + 30])
        require(data[pos + 30:pos + 30 + name_len] == e.name.encode("utf-8"), f"{e.name}: the local header names another file")
        require(extra_len == 0, f"{e.name}: the local header has an extra field")
        require(flags & 0x9 == 0, f"{e.name}: encrypted or followed by a data descriptor (flags {flags:#x})")
        require((flags, method, crc, packed_size, size) == (e.flags, e.method, e.crc, e.packed_size, e.size),
                f"{e.name}: the local header and the central directory disagree")
        e.lfh_size = 30 + name_len + extra_len
        pos += e.lfh_size + packed_size
    require(pos == cd_offset, "there are bytes between the last entry and the central directory")
    return entries, (f"ZIP records: {len(entries)} entries, local and central ones alike and in order,"
                     " no extra fields, no comment")


def prove_layout(entries):
    stored = [e.name for e in entries if e.method != 8]
    require(not stored, f"stored, not deflated: {', '.join(stored)}")
    names = [e.name for e in entries]
    require(MANIFEST in names and BLOCK_MAP in names and CONTENT_TYPES in names,
            f"{MANIFEST}, {BLOCK_MAP} and {CONTENT_TYPES} are needed; the package holds {', '.join(names)}")
    tail = names[names.index(CONTENT_TYPES) + 1:]
    require(tail in ([], [SIGNATURE]), f"{CONTENT_TYPES} is not the last entry but for the signature (after it: {', '.join(tail)})")
    require(SIGNATURE not in names[:-1], f"{SIGNATURE} is not the last entry")
    return None, f"entries: all deflated; {', '.join(names)}"



def prove_crcs(path, entries):
    contents = {}
    try:
        with zipfile.ZipFile(path) as archive:
            for e in entries:
                contents[e.name] = archive.read(e.name)  # checks the CRC-32
                require(len(contents[e.name]) == e.size, f"{e.name}: inflates to {len(contents[e.name])} bytes, not {e.size}")
    except (zipfile.BadZipFile, zlib.error, EOFError) as error:
        raise Failed(f"reading the entries back: {error}") from None
    return contents, f"CRC-32 and size of every entry ({len(entries)})"


def parse(contents, name, root_tag):
    require(name in contents, f"the package has no {name}")
    try:
        root = ElementTree.fromstring(contents[name])
    except ElementTree.ParseError as error:
        raise Failed(f"{name} is not well-formed XML: {error}") from None
    require(root.tag == root_tag, f"{name}: the root element is {root.tag}, not {root_tag}")
    return root


def prove_block_map(data, entries, contents):
    root = parse(contents, BLOCK_MAP, f"{{{NS['bm']}}}BlockMap")
    require(root.get("HashMethod") == SHA256, f"block map: hash method {root.get('HashMethod')}, not SHA-256")
    by_name = {urllib.parse.unquote(e.name): e for e in entries if e.name not in NOT_IN_BLOCK_MAP}
    files = root.findall("bm:File", NS)
    listed = [f.get("Name", "").replace("\\", "/") for f in files]
    require(sorted(listed) == sorted(by_name),
            f"block map lists {', '.join(listed) or 'nothing'}; the payload is {', '.join(by_name) or 'nothing'}")
    for element, name in zip(files, listed):
        e = by_name[name]
        require(element.get("Size") == str(e.size), f"block map: {name} has Size {element.get('Size')}, the entry {e.size} bytes")
        require(element.get("LfhSize") == str(e.lfh_size),
                f"block map: {name} has LfhSize {element.get('LfhSize')}, its local header is {e.lfh_size} bytes")
        blocks = element.findall("bm:Block", NS)
        plain, packed = contents[e.name], e.packed(data)
        require(len(blocks) == (e.size + BLOCK_SIZE - 1) // BLOCK_SIZE,
                f"block map: {name} has {len(blocks)} blocks for {e.size} bytes")
        pos = 0
        for index, block in enumerate(blocks):
            chunk = plain[index * BLOCK_SIZE:(index + 1) * BLOCK_SIZE]
            digest = base64.b64encode(hashlib.sha256(chunk).digest()).decode("ascii")
            require(block.get("Hash") == digest, f"block map: {name} block {index}: the hash is not that of the data")
            require((block.get("Size") or "").isdigit(), f"block map: {name} block {index}: a deflated file's block needs its Size")
            size = int(block.get("Size"))
            inflater = zlib.decompressobj(-15)
            try:
                out = inflater.decompress(packed[pos:pos + size])
            except zlib.error as error:
                raise Failed(f"block map: {name} block {index} does not inflate on its own: {error}") from None
            last = index == len(blocks) - 1
            require(out == chunk and inflater.eof == last and not inflater.unused_data,
                    f"block map: {name} block {index}: its {size} compressed bytes do not inflate to the block alone")
            pos += size
        require(pos == e.packed_size, f"block map: {name}: the blocks' sizes add up to {pos}, the entry to {e.packed_size}")
    described = ", ".join(f"{n} ({len(f.findall('bm:Block', NS))} of 64 KiB)" for f, n in zip(files, listed))
    return None, f"block map: SHA-256; {described}: hashes, sizes and LfhSize match the data block by block"


def prove_content_types(entries, contents):
    root = parse(contents, CONTENT_TYPES, f"{{{NS['ct']}}}Types")
    text = contents[CONTENT_TYPES].decode("utf-8")
    defaults, overrides = {}, {}
    for element in root:
        if element.tag == f"{{{NS['ct']}}}Default":
            key, table = element.get("Extension", "").lower(), defaults
        elif element.tag == f"{{{NS['ct']}}}Override":
            key, table = element.get("PartName", "").lower(), overrides
        else:
            raise Failed(f"content types: unknown element {element.tag}")
        require(key not in table, f"content types: {key} is given twice")
        table[key] = element.get("ContentType")
    for e in entries:
        if e.name == CONTENT_TYPES:
            continue
        base = e.name.rsplit("/", 1)[-1]
        extension = base.rsplit(".", 1)[1].lower() if "." in base else ""
        kind = overrides.get("/" + e.name.lower(), defaults.get(extension))
        require(kind, f"content types: no content type for {e.name}")
        expected = EXPECTED_TYPES.get(e.name)
        require(expected in (None, kind), f"content types: {e.name} is {kind}, not {expected}")
    missing = [o for o in OVERRIDES if o not in text]
    require(not missing, f"content types: missing {' '.join(missing)}")
    return None, "content types: one for every entry, the right one for manifest, block map and signature; the three Overrides"


def guid(value, what):
    match = GUID.fullmatch(value or "")
    require(match, f"manifest: {what} {value!r} is not a GUID")
    return match.group(1).lower()


def relative_inside(path):
    parts = re.split(r"[\\/]", path)
    return bool(path) and ":" not in path and parts[0] != "" and not any(p in ("", ".", "..") for p in parts)


def prove_manifest(contents, publisher, version, architecture):
    root = parse(contents, MANIFEST, f"{{{NS['f']}}}Package")
    identity = root.find("f:Identity", NS)
    require(identity is not None, "manifest: no Identity")
    require(identity.get("Publisher") == publisher,
            f"manifest: Publisher {identity.get('Publisher')!r}, not {publisher!r}")
    require(identity.get("Version") == version, f"manifest: Version {identity.get('Version')!r}, not {version!r}")
    require(identity.get("ProcessorArchitecture") == architecture,
            f"manifest: ProcessorArchitecture {identity.get('ProcessorArchitecture')!r}, not {architecture!r}")
    external = root.find("f:Properties/uap10:AllowExternalContent", NS)
    require(external is not None and external.text == "true", "manifest: external content is not allowed")
    verbs = root.findall(".//desktop5:Verb", NS)
    classes = root.findall(".//com:Class", NS)
    require(len(verbs) == 1 and len(classes) == 1,
            f"manifest: {len(verbs)} Explorer verbs and {len(classes)} COM classes, not one of each")
    clsid = guid(verbs[0].get("Clsid"), "the verb's Clsid")
    require(guid(classes[0].get("Id"), "the class Id") == clsid,
            f"manifest: the verb's class {clsid} is not the COM class {classes[0].get('Id')}")
    path = classes[0].get("Path", "")
    require(relative_inside(path), f"manifest: the class's Path {path!r} is not a relative path inside the install folder")
    require(re.split(r"[\\/]", path)[-1].lower() == DLL.lower(), f"manifest: the class's Path {path!r} does not name {DLL}")
    return (root, clsid), (f"manifest: {identity.get('Name')} {version} for {architecture} by {publisher},"
                         f" external content; one verb and one COM class, {{{clsid}}}, served by {path}")


def prove_signature(contents):
    if SIGNATURE not in contents:
        return None, "unsigned"
    require(contents[SIGNATURE][:4] == b"PKCX", f"{SIGNATURE} does not begin with PKCX")
    return None, f"signed: {SIGNATURE} last, a PKCX signature"


def prove_logo(path, root):
    try:
        with open(path, "rb") as f:
            png = f.read()
    except OSError as error:
        raise Failed(f"logo: {error}") from None
    require(png[:8] == b"\x89PNG\r\n\x1a\n", f"{path}: not a PNG")
    pos, chunks, kind = 8, {}, None
    while pos < len(png):
        require(pos + 12 <= len(png), f"{path}: a chunk runs past the end")
        length, kind = struct.unpack(">I4s", png[pos:pos + 8])
        body = png[pos + 8:pos + 8 + length]
        require(len(body) == length and struct.unpack(">I", png[pos + 8 + length:pos + 12 + length])[0]
                == zlib.crc32(kind + body), f"{path}: chunk {kind!r} has a bad CRC")
        chunks[kind] = chunks.get(kind, b"") + body
        pos += 12 + length
    require(kind == b"IEND", f"{path}: it does not end with IEND")
    width, height, depth, colour = struct.unpack(">IIBB", chunks.get(b"IHDR", b"\0" * 13)[:10])
    require((width, height, depth, colour) == (50, 50, 8, 2), f"{path}: {width}x{height}, not 50x50 8-bit RGB")
    require(len(zlib.decompress(chunks.get(b"IDAT", b""))) == height * (1 + 3 * width), f"{path}: wrong image data size")
    name = os.path.basename(path)
    named = [root.findtext("f:Properties/f:Logo", None, NS)]
    visual = root.find(".//uap:VisualElements", NS)
    named += [visual.get(a) if visual is not None else None for a in ("Square150x150Logo", "Square44x44Logo")]
    require(all(n == name for n in named), f"manifest: the logos are {named}, not {name}")
    return None, f"logo: {name}, a 50x50 PNG, is the one the manifest names"


def main(argv):
    parser = argparse.ArgumentParser(description="Checks a sparse package, signed or not.")
    parser.add_argument("package")
    parser.add_argument("--publisher", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--architecture", default="x64", choices=("x64", "arm64"))
    parser.add_argument("--logo")
    args = parser.parse_args(argv)
    try:
        with open(args.package, "rb") as f:
            data = f.read()
    except OSError as error:
        print(f"check_sparse_package.py: {error}", file=sys.stderr)
        return 1
    failures = 0

    def prove(step, *step_args):
        """Runs one proof and prints its outcome; returns (value, held)."""
        nonlocal failures
        try:
            value, message = step(*step_args)
        except (Failed, struct.error, UnicodeDecodeError) as error:
            print(f"FAILED: {step.__name__}: {error}" if not isinstance(error, Failed) else f"FAILED: {error}")
            failures += 1
            return None, False
        print(f"ok: {message}")
        return value, True

    entries, held = prove(read_records, data)
    if held:
        contents, held = prove(prove_crcs, args.package, entries)
    if not held:
        print(f"check_sparse_package.py: {args.package} cannot be read as a package", file=sys.stderr)
        return 1
    prove(prove_layout, entries)
    prove(prove_block_map, data, entries, contents)
    prove(prove_content_types, entries, contents)
    manifest, held = prove(prove_manifest, contents, args.publisher, args.version, args.architecture)
    prove(prove_signature, contents)
    if args.logo and held:
        prove(prove_logo, args.logo, manifest[0])
    if held:
        print(f"clsid: {{{manifest[1]}}}")
    if failures:
        print(f"check_sparse_package.py: {args.package}: {failures} failed", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
