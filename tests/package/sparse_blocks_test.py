#!/usr/bin/env python3
"""Files of more than one 64 KiB block, which the manifest alone never is:
the builder's block-wise compression and block map, read back by the
checker. Each row builds a package with one more payload file and expects the
checker's block map proof to hold or to fail. Prints ok/FAILED lines."""
import os
import sys
import zlib

sys.dont_write_bytecode = True  # the modules below are imported from the source tree

here = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(here, "..", "..", "scripts"), here]
import check_sparse_package as checker  # noqa: E402
import make_sparse_package as builder  # noqa: E402

BLOCK = builder.BLOCK_SIZE


def text(size):
    """Data that repeats, so that a compressor not made to stop at block
    boundaries reaches back across them."""
    line = b"NorrvaneShLnk opens the folder of a shortcut's target.\r\n"
    return (line * (size // len(line) + 1))[:size]


def one_stream(data):
    """The whole file as one DEFLATE stream, cut where the blocks end."""
    packed = builder.deflate(data)
    cuts = [len(packed) * min(i + BLOCK, len(data)) // len(data) for i in range(0, len(data), BLOCK)]
    return packed, [b - a for a, b in zip([0] + cuts, cuts)]


def flushed(mode, last_mode=zlib.Z_FINISH):
    """Blocks compressed one after another, each ended with a flush of the
    given mode, the last one with last_mode."""
    def compress(data):
        c = zlib.compressobj(9, zlib.DEFLATED, -15)
        pieces = [c.compress(data[i:i + BLOCK]) + c.flush(last_mode if i + BLOCK >= len(data) else mode)
                  for i in range(0, len(data), BLOCK)]
        return b"".join(pieces), [len(p) for p in pieces]
    return compress


def package(name, data, compress):
    manifest = builder.fill_manifest(open(os.path.join(here, "..", "..", "installer", "AppxManifest.xml")).read(),
                                     "CN=Test", "1.0.0.0", "x64")
    m_packed, m_sizes = builder.deflate_in_blocks(manifest)
    packed, sizes = compress(data)
    blocks = builder.block_map([(name, data, sizes), (builder.MANIFEST, manifest, m_sizes)])
    return builder.write_zip([(name, data, packed), (builder.MANIFEST, manifest, m_packed),
                              (builder.BLOCK_MAP, blocks, builder.deflate(blocks)),
                              (builder.CONTENT_TYPES, builder.CONTENT_TYPES_XML,
                               builder.deflate(builder.CONTENT_TYPES_XML))], 0x21, 0)


def block_map_holds(zip_bytes):
    try:
        entries, _ = checker.read_records(zip_bytes)
        # An inflater that does not ask for the stream's end: the rows are about the block map.
        contents = {e.name: zlib.decompressobj(-15).decompress(e.packed(zip_bytes)) for e in entries}
        checker.prove_block_map(zip_bytes, entries, contents)
        return True
    except (checker.Failed, zlib.error):
        return False


ROWS = [
    # description, payload size, compression, block map holds
    ("one byte, one block", 1, builder.deflate_in_blocks, True),
    ("a byte short of a block", BLOCK - 1, builder.deflate_in_blocks, True),
    ("exactly one block", BLOCK, builder.deflate_in_blocks, True),
    ("a block and a byte: two blocks", BLOCK + 1, builder.deflate_in_blocks, True),
    ("three blocks and a bit", 3 * BLOCK + 5, builder.deflate_in_blocks, True),
    ("one stream cut at block ends is refused", 3 * BLOCK + 5, one_stream, False),
    ("blocks that may refer back across a boundary are refused", 3 * BLOCK + 5, flushed(zlib.Z_SYNC_FLUSH), False),
    ("a stream left unfinished after the last block is refused", BLOCK + 5,
     flushed(zlib.Z_FULL_FLUSH, zlib.Z_FULL_FLUSH), False),
]

failures = 0
for description, size, compress, expected in ROWS:
    got = block_map_holds(package("Assets/payload.txt", text(size), compress))
    print(f"{'ok' if got == expected else 'FAILED'}: blocks: {description}")
    failures += got != expected
sys.exit(1 if failures else 0)
