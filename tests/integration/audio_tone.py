#!/usr/bin/env python3
"""Prints the dominant frequency of an audio file that ffmpeg can decode, and its share of the
signal: "TONE <hz> <share> <seconds>". Goertzel power on a 10 Hz grid over the decoded mono
samples, no numpy.

  audio_tone.py FILE [ffmpeg input options...]
"""
import math
import struct
import subprocess
import sys

RATE = 8000  # decoded at this rate: enough for tones below 4 kHz


def decode(path, options):
    cmd = ["ffmpeg", "-hide_banner", "-loglevel", "error"] + options + ["-i", path, "-ac", "1", "-ar", str(RATE),
                                                                          "-f", "s16le", "-"]
    raw = subprocess.run(cmd, check=True, stdout=subprocess.PIPE).stdout
    return [v / 32768.0 for v in struct.unpack("<%dh" % (len(raw) // 2), raw[: len(raw) // 2 * 2])]


def goertzel(samples, freq):
    coeff = 2.0 * math.cos(2.0 * math.pi * freq / RATE)
    s1 = s2 = 0.0
    for x in samples:
        s1, s2 = x + coeff * s1 - s2, s1
    return s1 * s1 + s2 * s2 - coeff * s1 * s2


def main():
    samples = decode(sys.argv[1], sys.argv[2:])
    # Skip the start (encoder and decoder priming), analyse up to one second.
    block = samples[RATE // 4: RATE // 4 + RATE]
    if len(block) < RATE // 4:
        print("TONE 0 0 %.2f" % (len(samples) / RATE))
        return 1
    energy = sum(x * x for x in block) * len(block) / 2.0
    best, best_power = 0, 0.0
    for freq in range(50, RATE // 2, 10):
        power = goertzel(block, freq)
        if power > best_power:
            best, best_power = freq, power
    share = best_power / energy if energy > 0 else 0.0
    print("TONE %d %.2f %.2f" % (best, share, len(samples) / RATE))
    return 0


if __name__ == "__main__":
    sys.exit(main())
