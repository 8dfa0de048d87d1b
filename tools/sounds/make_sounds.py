#!/usr/bin/env python3
"""Makes Vantrel's three sounds and the source file that embeds them.

    make_sounds.py [--check] [OUTDIR]

Writes OUTDIR/click.wav (resource 139, the key click), connected.wav (140,
a rising two-note chime), disconnected.wav (141, the same notes falling) and
sound_data.inc, the bytes of the three files as C++ arrays for the program.
OUTDIR defaults to resources/sounds beside this script's tools folder. With
--check nothing is written; the exit status is 1 when a file differs from
what would be written.

Every sound is 16-bit mono PCM at 22050 Hz, computed without randomness, so
the files come out the same on every run.
"""
import io
import math
import os
import struct
import sys
import wave

RATE = 22050
PEAK = 32767


def envelope(i, n, attack, decay):
    """Soft attack, exponential decay, and a short fade to exact silence."""
    t = i / RATE
    a = min(1.0, t / attack) if attack > 0 else 1.0
    d = math.exp(-t / decay)
    fade = min(1.0, (n - i) / (0.004 * RATE))
    return a * d * fade


def tone(freq, seconds, attack=0.004, decay=0.18, level=0.4):
    n = int(seconds * RATE)
    out = []
    for i in range(n):
        t = i / RATE
        # A bell-like tone: the fundamental with a little of the octave and
        # the twelfth, which makes it round without being shrill.
        s = (math.sin(2 * math.pi * freq * t)
             + 0.25 * math.sin(2 * math.pi * 2 * freq * t)
             + 0.08 * math.sin(2 * math.pi * 3 * freq * t)) / 1.33
        out.append(level * s * envelope(i, n, attack, decay))
    return out


def mix(parts, seconds):
    """parts: (start seconds, samples). Sums them into one track."""
    track = [0.0] * int(seconds * RATE)
    for start, samples in parts:
        at = int(start * RATE)
        for i, s in enumerate(samples):
            if at + i < len(track):
                track[at + i] += s
    return track


def click():
    # 10 ms: a damped 2.4 kHz ping over a little deterministic noise, like a
    # soft key.
    n = int(0.010 * RATE)
    seed = 12345
    out = []
    for i in range(n):
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        noise = (seed / 0x7FFFFFFF) * 2 - 1
        t = i / RATE
        ping = math.sin(2 * math.pi * 2400 * t)
        env = min(1.0, t / 0.0004) * math.exp(-t / 0.0022)
        fade = min(1.0, (n - i) / (0.002 * RATE))
        out.append(0.35 * (0.75 * ping + 0.25 * noise) * env * fade)
    return out


def chime(first, second):
    return mix([(0.0, tone(first, 0.30, decay=0.12)),
                (0.13, tone(second, 0.40, decay=0.16))], 0.53)


E5, A5 = 659.255, 880.0

SOUNDS = [
    (139, "click.wav", click),
    (140, "connected.wav", lambda: chime(E5, A5)),
    (141, "disconnected.wav", lambda: chime(A5, E5)),
]


def wav_bytes(samples):
    buf = io.BytesIO()
    with wave.open(buf, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b"".join(
            struct.pack("<h", max(-PEAK, min(PEAK, int(round(s * PEAK))))) for s in samples))
    return buf.getvalue()


def inc_text(files):
    lines = ["// Made by tools/sounds/make_sounds.py from the .wav files beside it;",
             "// do not edit. Included by platform/sound/sound_resources.cpp.", ""]
    for ident, name, data in files:
        lines.append(f"// {name}, WAVE resource {ident}, {len(data)} bytes")
        lines.append(f"alignas(4) const unsigned char kWave{ident}[{len(data)}] = {{")
        for at in range(0, len(data), 16):
            chunk = data[at:at + 16]
            lines.append("  " + ", ".join(f"0x{b:02x}" for b in chunk) + ",")
        lines.append("};")
        lines.append("")
    return "\n".join(lines)


def main(argv):
    check = "--check" in argv
    rest = [a for a in argv if a != "--check"]
    here = os.path.dirname(os.path.abspath(__file__))
    outdir = rest[0] if rest else os.path.join(here, "..", "..", "resources", "sounds")
    files = [(ident, name, wav_bytes(make())) for ident, name, make in SOUNDS]
    outputs = [(name, data) for _, name, data in files]
    outputs.append(("sound_data.inc", inc_text(files).encode("ascii")))
    differ = []
    for name, data in outputs:
        path = os.path.join(outdir, name)
        if check:
            try:
                with open(path, "rb") as f:
                    if f.read() != data:
                        differ.append(name)
            except OSError:
                differ.append(name)
        else:
            os.makedirs(outdir, exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
    if differ:
        print("make_sounds: differs from the generator: " + ", ".join(differ), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
