#!/usr/bin/env python3
"""Writes the starting corpus of every fuzz target into OUT/<target>/.

The seeds are the files the program ships (layouts, languages, text pages,
pictures), the byte streams of the frame decoding scenarios, small pictures of
each BMP kind, a key test list, stored settings of each type, and every input
kept under tests/fuzz/regressions. Existing files in OUT are kept, so a corpus
grows from run to run.

Usage: make_seeds.py OUT
"""
import hashlib
import pathlib
import shutil
import struct
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]


def put(out, target, data, name=None):
    folder = out / target
    folder.mkdir(parents=True, exist_ok=True)
    name = name or "seed-" + hashlib.sha1(data).hexdigest()[:16]
    (folder / name).write_bytes(data)


def scenario_streams():
    """Control byte and fed bytes of each frame decoding scenario."""
    for path in sorted((ROOT / "tests/link_protocol/scenarios").glob("*.txt")):
        if path.name == "README.txt":
            continue
        case = None
        for line in path.read_text().splitlines() + ["case end"]:
            words = line.split()
            if not words:
                continue
            if words[0] == "case":
                if case and case["bytes"]:
                    yield case
                case = {"control": 0, "bytes": bytearray()}
            elif case is None:
                continue
            elif words[:2] == ["given", "synchronised"]:
                case["control"] |= 1
            elif words[:3] == ["given", "setting", "Build"] and int(words[-1]) >= 9095:
                case["control"] |= 8
            elif words[0] == "call" and words[1] == "1" and not case["bytes"]:
                case["control"] |= 2
            elif words[0] in ("feed", "feed-after"):
                hexes = words[1:] if words[0] == "feed" else words[2:]
                case["bytes"] += bytes(int(h, 16) for h in hexes)


def bmp(width, height, bpp, header=40, compression=0, palette=0, pixels=b""):
    info = (struct.pack("<IHHHH", 12, width, height, 1, bpp) if header == 12 else
            struct.pack("<IiiHHIIiiII", header, width, height, 1, bpp, compression,
                        len(pixels), 2835, 2835, palette, 0).ljust(header, b"\0"))
    table = bytes(range(palette * (3 if header == 12 else 4)))
    offset = 14 + len(info) + len(table)
    return b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + info + table + pixels


def small_pictures():
    yield bmp(4, 4, 24, pixels=bytes(range(48)))
    yield bmp(4, -4, 32, pixels=bytes(range(64)))
    yield bmp(8, 2, 1, palette=2, pixels=b"\xaa\0\0\0\x55\0\0\0")
    yield bmp(4, 2, 4, palette=16, pixels=b"\x01\x23\0\0\x45\x67\0\0")
    yield bmp(4, 2, 8, palette=4, compression=1, pixels=b"\x04\x01\0\0\x02\x02\x02\x03\0\x01")
    yield bmp(4, 2, 4, palette=4, compression=2, pixels=b"\x04\x12\0\0\x04\x30\0\x01")
    yield bmp(2, 2, 16, header=56, compression=3, pixels=bytes(8))
    yield bmp(2, 2, 24, header=12, pixels=bytes(16))


def sdp_answers():
    """Service discovery answers: a serial port on channel 5, in one part and
    the first of two parts, and an error answer."""
    def seq(*parts):
        inner = b"".join(parts)
        return bytes([0x35, len(inner)]) + inner
    descriptors = seq(seq(b"\x19\x01\x00"), seq(b"\x19\x00\x03", b"\x08\x05"))
    record = seq(b"\x09\x00\x00", b"\x0a\x00\x01\x00\x05", b"\x09\x00\x04", descriptors)
    lists = b"\x36" + struct.pack(">H", len(record)) + record

    def answer(tid, part, state):
        params = struct.pack(">H", len(part)) + part + bytes([len(state)]) + state
        return b"\x07" + struct.pack(">HH", tid, len(params)) + params
    yield answer(1, lists, b"")
    yield answer(2, lists[:9], b"\x01\x02")
    yield b"\x01\x00\x03\x00\x02\x00\x03"


def main():
    out = pathlib.Path(sys.argv[1])
    data = ROOT / "data"
    for path in sorted(data.iterdir()):
        kinds = {".kcod": ["layout"], ".lang": ["language"], ".txt": ["text_page", "key_test"],
                 ".htm": ["text_page"], ".bmp": ["bmp"]}.get(path.suffix, [])
        for kind in kinds:
            put(out, kind, path.read_bytes(), "shipped-" + path.name.replace(" ", "_"))
    for case in scenario_streams():
        put(out, "frame_decoder", bytes([case["control"]]) + bytes(case["bytes"]))
        put(out, "frame_decoder", bytes([case["control"] | 4]) + bytes(case["bytes"]))
    for picture in small_pictures():
        put(out, "bmp", picture)
    put(out, "key_test", b"A,97,\r\nB,98,\r\nEnter,13,\r\nEuro,128,\r\n")
    put(out, "key_test", b"Space,32\nTab,9\n")
    for selector, text in ((1, "English.lang"), (2, "US.kcod"), (0, "COM3:")):
        put(out, "settings", bytes([selector]) + struct.pack("<I", 1) +
            (text + "\0").encode("utf-16-le"))
    for selector in range(4):
        put(out, "settings", bytes([selector]) + struct.pack("<II", 4, 9095))
        put(out, "settings", bytes([selector]) + struct.pack("<I", 3) + bytes(range(7)))
    for answer in sdp_answers():
        put(out, "sdp_answer", answer)
    regressions = ROOT / "tests/fuzz/regressions"
    if regressions.is_dir():
        for folder in (f for f in regressions.iterdir() if f.is_dir()):
            for path in folder.iterdir():
                put(out, folder.name, path.read_bytes(), "kept-" + path.name)
    return 0


if __name__ == "__main__":
    sys.exit(main())
