#!/usr/bin/python3
"""Writes the sample's sound: a short chime of two bell-like notes, as a
PCM WAVE file (16 bits, mono, 22050 Hz) that any Windows can play.

    make_chime.py OUT.wav
"""

import math
import struct
import sys
import wave

RATE = 22050
SECONDS = 1.6
# (start in seconds, frequency in Hz, loudness)
NOTES = [(0.0, 1318.5, 0.45), (0.35, 987.8, 0.4)]
# A bell: the note with two weaker partials above it.
PARTIALS = [(1.0, 1.0), (2.76, 0.35), (5.4, 0.12)]


def sample(t: float) -> float:
    value = 0.0
    for start, frequency, loudness in NOTES:
        u = t - start
        if u < 0:
            continue
        attack = min(1.0, u / 0.005)
        for ratio, weight in PARTIALS:
            decay = math.exp(-u * 3.0 * ratio)
            value += loudness * weight * attack * decay * math.sin(2 * math.pi * frequency * ratio * u)
    return max(-1.0, min(1.0, value))


def chime() -> bytes:
    count = int(RATE * SECONDS)
    return b"".join(struct.pack("<h", round(32767 * 0.8 * sample(i / RATE))) for i in range(count))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with wave.open(sys.argv[1], "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(chime())
