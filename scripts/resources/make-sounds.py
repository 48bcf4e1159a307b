#!/usr/bin/env python3
"""Writes the three notification sounds as MP3 into resources/sounds/.

Synthesised here (sine partials under a soft envelope) and encoded with the
system's libmp3lame through ctypes; run once when the sounds change:
    python3 scripts/resources/make-sounds.py
Run by hand only, so install-deps.sh leaves out what it needs: on Debian the
packages python3 and libmp3lame0.
"""
import array
import ctypes
import math
import os

RATE = 44100
OUT = os.path.join(os.path.dirname(__file__), "..", "..", "resources", "sounds")


def tone(notes, length):
    """notes: (start s, frequency Hz, duration s, gain); returns int16 samples."""
    n = int(RATE * length)
    buf = [0.0] * n
    for start, freq, dur, gain in notes:
        s0 = int(start * RATE)
        for i in range(int(dur * RATE)):
            if s0 + i >= n:
                break
            t = i / RATE
            attack = min(1.0, t / 0.01)
            env = attack * math.exp(-t * 5.0 / dur)
            v = math.sin(2 * math.pi * freq * t) + 0.3 * math.sin(4 * math.pi * freq * t)
            buf[s0 + i] += gain * env * v
    peak = max(1e-9, max(abs(x) for x in buf))
    scale = 0.8 * 32767 / peak
    return array.array("h", (int(x * scale) for x in buf))


def encode(samples, path):
    lame = ctypes.CDLL("libmp3lame.so.0")
    lame.lame_init.restype = ctypes.c_void_p
    gfp = ctypes.c_void_p(lame.lame_init())
    lame.lame_set_in_samplerate(gfp, RATE)
    lame.lame_set_num_channels(gfp, 1)
    lame.lame_set_mode(gfp, 3)  # mono
    lame.lame_set_brate(gfp, 96)
    lame.lame_set_quality(gfp, 2)
    if lame.lame_init_params(gfp) < 0:
        raise RuntimeError("lame_init_params failed")
    pcm = (ctypes.c_short * len(samples))(*samples)
    size = int(1.25 * len(samples) + 7200)
    out = (ctypes.c_ubyte * size)()
    n = lame.lame_encode_buffer(gfp, pcm, pcm, len(samples), out, size)
    data = bytes(out[:n])
    n = lame.lame_encode_flush(gfp, out, size)
    data += bytes(out[:n])
    lame.lame_close(gfp)
    with open(path, "wb") as f:
        f.write(data)


def main():
    os.makedirs(OUT, exist_ok=True)
    # Rising pair: the network is there.
    encode(tone([(0.0, 660, 0.25, 1.0), (0.12, 990, 0.35, 1.0)], 0.5), os.path.join(OUT, "connect.mp3"))
    # Falling pair: the network is gone.
    encode(tone([(0.0, 880, 0.25, 1.0), (0.12, 587, 0.4, 1.0)], 0.55), os.path.join(OUT, "disconnect.mp3"))
    # A single soft bell: a message.
    encode(tone([(0.0, 1175, 0.4, 1.0), (0.0, 1760, 0.3, 0.3)], 0.45), os.path.join(OUT, "manager.mp3"))


if __name__ == "__main__":
    main()
