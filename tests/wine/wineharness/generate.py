"""Package content made for a run, and packages altered after glimmer-pack.

Large media files are made when a scenario runs rather than kept in the
repository: `generate NAME BYTES KIND` in [package]. Every kind is the same
for the same size, so a run can be repeated byte for byte.

    random   bytes that no coder can shrink
    zero     zero bytes (packs to almost nothing)
    wav      a RIFF/WAVE file (PCM, 8 bits, mono, 22050 Hz) holding a
             440 Hz tone with a little noise, which Wine's multimedia layer
             opens
    noisewav the same file holding noise (samples that no coder shrinks,
             like those of a compressed recording)

A hostile package is a sound one changed afterwards, as glimmer-pack
refuses to make it: `forge-title TEXT` overwrites the catalogue's 260-byte
title field, `cut BYTES` drops the end of the file.
"""

from __future__ import annotations

import random
import struct

KINDS = ("random", "zero", "wav", "noisewav")
TITLE_FIELD = 260
WAV_HEADER = 44
WAV_RATE = 22050


class GenerateError(Exception):
    pass


def wav_header(data_size: int) -> bytes:
    """The 44-byte header of a PCM WAVE file of 8-bit mono samples at
    WAV_RATE holding `data_size` bytes of samples."""
    return (b"RIFF" + struct.pack("<I", 36 + data_size) + b"WAVE" +
            b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, WAV_RATE, WAV_RATE, 1, 8) +
            b"data" + struct.pack("<I", data_size))


def _tone(count: int, rng: random.Random) -> bytes:
    # 440 Hz at 22050 Hz repeats exactly every 2205 samples (44 periods),
    # kept in the upper six bits; the lower two bits are noise.
    import math
    period = bytes((int(128 + 100 * math.sin(2 * math.pi * 440 * i / WAV_RATE)) & 0xFC)
                   for i in range(2205))
    tone = (period * (count // len(period) + 1))[:count]
    noise = rng.randbytes(count).translate(bytes(b & 3 for b in range(256)))
    mixed = int.from_bytes(tone, "little") | int.from_bytes(noise, "little")
    return mixed.to_bytes(count, "little")


def make(size: int, kind: str) -> bytes:
    """The content of a generated file of `size` bytes."""
    if size < 0:
        raise GenerateError("a size cannot be negative")
    rng = random.Random(f"{kind}:{size}")
    if kind == "random":
        return rng.randbytes(size)
    if kind == "zero":
        return bytes(size)
    if kind in ("wav", "noisewav"):
        if size < WAV_HEADER + 1:
            raise GenerateError(f"a wav file needs more than {WAV_HEADER} bytes")
        count = size - WAV_HEADER
        return wav_header(count) + (_tone(count, rng) if kind == "wav" else rng.randbytes(count))
    raise GenerateError(f"unknown kind {kind!r} (one of {', '.join(KINDS)})")


def parse_size(text: str) -> int:
    """A size in bytes, with an optional K or M suffix (1024 and 1048576)."""
    factor = 1
    if text[-1:] in ("K", "k"):
        factor, text = 1024, text[:-1]
    elif text[-1:] in ("M", "m"):
        factor, text = 1024 * 1024, text[:-1]
    if not text.isdigit():
        raise GenerateError(f"not a size: {text!r}")
    return int(text) * factor


def title_field(title: bytes) -> bytes:
    if len(title) >= TITLE_FIELD:
        raise GenerateError(f"a title holds at most {TITLE_FIELD - 1} bytes")
    return title + bytes(TITLE_FIELD - len(title))


def forge_title(package: bytes, title: bytes, forged: bytes) -> bytes:
    """The package with its title field (found by the title it was built
    with, padded as glimmer-pack pads it) holding `forged` instead."""
    field = title_field(title)
    at = package.find(field)
    if at < 0 or package.find(field, at + 1) >= 0:
        raise GenerateError("the title field cannot be told apart in the package")
    return package[:at] + title_field(forged) + package[at + TITLE_FIELD:]


def cut(package: bytes, count: int) -> bytes:
    """The package without its last `count` bytes."""
    if not 0 < count < len(package):
        raise GenerateError(f"cannot cut {count} bytes of a {len(package)}-byte package")
    return package[:-count]
