#!/usr/bin/python3
"""Writes the sample slideshow's music: a quiet arpeggio of four chords
(A minor, F, C, G), soft plucked notes over a held low note, sixteen
seconds that loop without a seam, as a PCM WAVE file (16 bits, mono,
22050 Hz) that any Windows can play.

    make_music.py OUT.wav
"""

import math
import struct
import sys
import wave

RATE = 22050
BEAT = 0.5   # seconds per note
# Each chord: its low note and the four notes of its arpeggio, in Hz.
CHORDS = [(110.00, [220.00, 261.63, 329.63, 440.00]),   # A minor
          (87.31, [174.61, 220.00, 261.63, 349.23]),    # F
          (130.81, [196.00, 261.63, 329.63, 392.00]),   # C
          (98.00, [196.00, 246.94, 293.66, 392.00])]    # G
BAR = 8 * BEAT     # each arpeggio twice
SECONDS = BAR * len(CHORDS)


def pluck(u: float, frequency: float) -> float:
    """A soft plucked string: fast rise, slow fall, one weak overtone."""
    if u < 0:
        return 0.0
    envelope = min(1.0, u / 0.01) * math.exp(-u * 2.2)
    return envelope * (math.sin(2 * math.pi * frequency * u) + 0.2 * math.sin(4 * math.pi * frequency * u))


def sample(t: float) -> float:
    bar = int(t // BAR)
    low, _ = CHORDS[bar % len(CHORDS)]
    u = t - bar * BAR
    # The low note swells and fades within its bar.
    value = 0.25 * math.sin(math.pi * u / BAR) * math.sin(2 * math.pi * low * u)
    # A note rings on under the next two; the last notes of the piece ring
    # on into its start, so that it loops without a seam.
    steps = int(SECONDS / BEAT)
    step = int(t // BEAT)
    for back in range(3):
        s = (step - back) % steps
        start = s * BEAT if s <= step else s * BEAT - SECONDS
        value += 0.3 * pluck(t - start, CHORDS[int(s * BEAT // BAR)][1][s % 4])
    return max(-1.0, min(1.0, value))


def music() -> bytes:
    count = int(RATE * SECONDS)
    return b"".join(struct.pack("<h", round(32767 * 0.7 * sample(i / RATE))) for i in range(count))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with wave.open(sys.argv[1], "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(music())
