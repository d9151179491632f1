#!/usr/bin/python3
"""Writes the chime Ding.wav: a soft two-partial bell, 0.7 s, 44.1 kHz mono 16-bit."""

import math
import struct
import sys
import wave

RATE = 44100
LENGTH = 0.7  # seconds
# (frequency in Hz, amplitude, decay time constant in seconds): a fundamental with an
# inharmonic upper partial that dies away sooner, as a small bell does.
PARTIALS = [(1046.5, 0.55, 0.22), (2637.0, 0.18, 0.08), (1568.0, 0.12, 0.15)]
ATTACK = 0.004  # seconds of fade-in, so the start does not click
PEAK = 0.5  # of full scale


def sample(t):
    value = sum(a * math.exp(-t / d) * math.sin(2 * math.pi * f * t) for f, a, d in PARTIALS)
    value *= min(1.0, t / ATTACK)
    # The last 50 ms fade to silence.
    value *= min(1.0, (LENGTH - t) / 0.05)
    return value


def main(path):
    frames = int(RATE * LENGTH)
    data = b"".join(
        struct.pack("<h", int(round(max(-1.0, min(1.0, sample(i / RATE) * PEAK)) * 32767)))
        for i in range(frames)
    )
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "Ding.wav")
