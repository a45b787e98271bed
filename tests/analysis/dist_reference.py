#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The distortion analyzer end to end, against an independent computation.

Each case writes a stereo WAV file of known content (a fundamental, harmonics
of given levels, white Gaussian noise of given power), plays it into
`miral --headless --audio wav:FILE` and compares the printed figures with the
truth computed here from what was put into the file: THD from the injected
harmonic amplitudes, THD+N from those and the noise power that falls into the
measurement band (including the rounding of the file's own samples), the
fundamental's frequency through the instrument's clock correction. Nothing of
the analyzer's method (window, lobes, fit) is used here.

usage: dist_reference.py MIRAL [--keep DIR] [--verbose]
"""
import math
import os
import subprocess
import sys
import tempfile
import wave

try:
    import numpy as np
    from scipy.io import wavfile
except ImportError:  # the test needs python3-scipy (and numpy)
    print("skipped: numpy and scipy are not installed (Debian package python3-scipy)")
    sys.exit(77)

FIGURES = ["DistStatus", "DistF0", "DistLevelDbfs", "DistThdDb", "DistThdNDb", "DistSnrDb",
           "DistSinadDb", "DistEnob", "DistThdPct", "DistThdNPct"] + \
          ["DistH%dDb" % h for h in range(2, 11)]
FREQ_CORR = {}  # clock corrections stored for the runs (none: 1.0 at every rate)
RATE_ITEMS = {44100: "44100", 48000: "48000", 96000: "96000"}


class Channel:
    """One channel's content: fundamental f (Hz) of peak amp (full scale 1),
    harmonics {h: dBc}, white noise of noise_dbfs (r.m.s. relative to a
    full-scale sine; None for none)."""

    def __init__(self, f, amp, harmonics=None, noise_dbfs=None, seed=1):
        self.f, self.amp = f, amp
        self.harmonics = harmonics or {}
        self.noise_dbfs = noise_dbfs
        self.seed = seed

    def samples(self, rate, count):
        t = np.arange(count) / rate
        x = self.amp * np.sin(2 * np.pi * self.f * t + 0.4)
        for h, dbc in self.harmonics.items():
            x += self.amp * 10 ** (dbc / 20) * np.sin(2 * np.pi * h * self.f * t + 0.9 * h)
        if self.noise_dbfs is not None:
            sigma = 10 ** (self.noise_dbfs / 20) / math.sqrt(2)
            x += np.random.default_rng(self.seed).normal(0.0, sigma, count)
        return x


def truth(ch, rate, stored_error_power, band_high_setting=20000.0):
    """The figures that the channel's content has, by definition."""
    corr = FREQ_CORR.get(rate, 1.0)
    shown_rate = rate / corr
    f_shown = ch.f / corr
    band_lo = 20.0
    band_hi = min(band_high_setting, 0.45 * shown_rate)
    fund = ch.amp ** 2 / 2
    harm = {}
    for h, dbc in ch.harmonics.items():
        if h * f_shown <= band_hi:
            harm[h] = fund * 10 ** (dbc / 10)
    # White noise: its power spreads evenly over 0 .. rate / 2.
    noise = stored_error_power
    if ch.noise_dbfs is not None:
        noise += 10 ** (ch.noise_dbfs / 10) / 2
    noise_in_band = noise * (band_hi - band_lo) / (shown_rate / 2)
    hsum = sum(harm.values())
    return {
        "f0": f_shown,
        "level_dbfs": 10 * math.log10(fund / 0.5),
        "thd_db": 10 * math.log10(hsum / fund) if hsum > 0 else None,
        "thdn_db": 10 * math.log10((hsum + noise_in_band) / fund),
        "snr_db": 10 * math.log10(fund / noise_in_band),
        "harm_dbc": {h: 10 * math.log10(p / fund) for h, p in harm.items()},
        "noise": noise,
        "fund": fund,
    }


def run(miral, cfg, wav, rate, fft_divider, seconds):
    cmd = [miral, "--headless", "--config-dir", cfg, "--audio", "wav:" + wav,
           "--set", "ComboBox2=" + RATE_ITEMS[rate], "--set", "ComboBox3=%d" % fft_divider,
           "--set", "CheckBox4=0", "--run", "%g" % seconds,
           "--print", ",".join(FIGURES + [f.replace("Dist", "DistB", 1) for f in FIGURES] + ["FftSize", "FreqCorr"])]
    out = subprocess.run(cmd, capture_output=True, text=True, timeout=900)
    if out.returncode != 0:
        raise RuntimeError("miral failed (%d): %s" % (out.returncode, out.stderr[-2000:]))
    values = {}
    for line in out.stdout.splitlines():
        if "=" in line:
            k, v = line.split("=", 1)
            values[k] = v
    return values


class Checker:
    def __init__(self, verbose):
        self.failed = 0
        self.passed = 0
        self.verbose = verbose
        self.worst = {}

    def near(self, what, got, want, tol):
        ok = got is not None and not math.isnan(got) and abs(got - want) <= tol
        key = what.split(":")[-1]
        if got is not None and not math.isnan(got):
            self.worst[key] = max(self.worst.get(key, 0.0), abs(got - want))
        if ok:
            self.passed += 1
        else:
            self.failed += 1
        if self.verbose or not ok:
            print("%s %s: got %s, want %.6g +- %g" % ("ok  " if ok else "FAIL", what, got, want, tol))

    def equal(self, what, got, want):
        ok = got == want
        self.passed += ok
        self.failed += not ok
        if self.verbose or not ok:
            print("%s %s: got %r, want %r" % ("ok  " if ok else "FAIL", what, got, want))


def num(v):
    try:
        return float(v)
    except (TypeError, ValueError):
        return None


def check_channel(c, name, values, prefix, t, n, quantised=False):
    g = lambda key: num(values.get(prefix + key))
    c.equal(name + ":status", values.get(prefix + "Status"), "ok")
    c.near(name + ":f0_ppm", (g("F0") / t["f0"] - 1) * 1e6 if g("F0") else None, 0.0, 1.0)
    c.near(name + ":level_db", g("LevelDbfs"), t["level_dbfs"], 0.01)
    lobe_noise = t["noise"] * 2 * 17 / n
    # THD to 0.1 dB wherever every harmonic stands 40 dB above the noise in
    # its own stretch of bins: the noise there adds to the harmonic's
    # amplitude with a random phase, so a harmonic only 30 dB above it
    # scatters by +-0.1 dB from one window to the next whatever the method.
    if t["thd_db"] is not None and all(t["fund"] * 10 ** (d / 10) > 1e4 * lobe_noise for d in t["harm_dbc"].values()):
        c.near(name + ":thd_db", g("ThdDb"), t["thd_db"], 0.1)
        c.near(name + ":thd_pct", g("ThdPct"), 100 * 10 ** (t["thd_db"] / 20), 100 * 10 ** (t["thd_db"] / 20) * 0.0116)
        for h, dbc in t["harm_dbc"].items():
            c.near(name + ":h%d_db" % h, g("H%dDb" % h), dbc, 0.1)
    c.near(name + ":thdn_db", g("ThdNDb"), t["thdn_db"], 0.3 if quantised else 0.2)
    if quantised:
        # Not better than the quantisation allows.
        c.near(name + ":thdn_not_better", max(g("ThdNDb") or 0, t["thdn_db"] - 0.3), t["thdn_db"], 0.3)
    if t["thd_db"] is None or t["fund"] * 10 ** (t["thd_db"] / 10) < 0.1 * t["noise"]:
        c.near(name + ":snr_db", g("SnrDb"), t["snr_db"], 0.2)
    c.near(name + ":sinad", g("SinadDb"), -t["thdn_db"], 0.3 if quantised else 0.2)
    c.near(name + ":enob", g("Enob"), (-t["thdn_db"] - 1.76) / 6.02, 0.05)


def write_float_wav(path, rate, a, b):
    data = np.stack([a, b], axis=1).astype(np.float32)
    wavfile.write(path, rate, data)
    stored = data.astype(np.float64)
    return float(np.mean((stored[:, 0] - a) ** 2)), float(np.mean((stored[:, 1] - b) ** 2))


def write_pcm16_wav(path, rate, a, b):
    ia = np.round(a * 32768).clip(-32768, 32767).astype(np.int16)
    ib = np.round(b * 32768).clip(-32768, 32767).astype(np.int16)
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(np.stack([ia, ib], axis=1).tobytes())
    return (float(np.mean((ia / 32768.0 - a) ** 2)), float(np.mean((ib / 32768.0 - b) ** 2)))


# (rate, FFT divider, channel A, channel B): tones on bins and between bins,
# 20 Hz .. 20 kHz, harmonics -60 .. -120 dBc, noise -80 .. -130 dBFS.
CASES = [
    (44100, 2, Channel(997.3, 0.5, {2: -60, 3: -70, 4: -80, 5: -90}, -110, 11),
     Channel(44100 / 32768 * 743, 0.9, {3: -100}, -130, 12)),  # B on a bin
    (44100, 2, Channel(20.0, 0.7, {2: -80, 3: -90}, -120, 13),
     Channel(19000.3, 0.6, {}, -80, 14)),
    (96000, 1, Channel(20.0, 0.8, {2: -110, 3: -110, 4: -110, 5: -110}, -130, 15),
     Channel(15000.7, 0.5, {2: -60}, -100, 16)),
    (96000, 2, Channel(96000 / 32768 * 1000, 0.9, {2: -120, 3: -120, 4: -120, 5: -120}, -130, 17),
     Channel(5000.3, 0.3, {2: -100, 3: -105}, -130, 18)),
    (48000, 2, Channel(1234.5, 0.25, {2: -90, 5: -95}, -120, 19),
     Channel(9876.5, 0.95, {2: -70}, -90, 20)),
]


def main():
    args = sys.argv[1:]
    if not args:
        print(__doc__)
        return 2
    miral = args[0]
    verbose = "--verbose" in args
    keep = args[args.index("--keep") + 1] if "--keep" in args else None
    work = keep or tempfile.mkdtemp(prefix="miral_dist_")
    os.makedirs(work, exist_ok=True)
    c = Checker(verbose)

    for i, (rate, divider, cha, chb) in enumerate(CASES):
        n = 65536 // divider
        seconds = n / rate + 0.35
        count = int(rate * (seconds + 1.0))
        a, b = cha.samples(rate, count), chb.samples(rate, count)
        wav = os.path.join(work, "case%d.wav" % i)
        ea, eb = write_float_wav(wav, rate, a, b)
        cfg = os.path.join(work, "cfg%d" % i)
        os.makedirs(cfg, exist_ok=True)
        values = run(miral, cfg, wav, rate, divider, seconds)
        c.equal("case%d:fftsize" % i, values.get("FftSize"), str(n))
        check_channel(c, "case%d A %.6g Hz @%d" % (i, cha.f, rate), values, "Dist", truth(cha, rate, ea), n)
        check_channel(c, "case%d B %.6g Hz @%d" % (i, chb.f, rate), values, "DistB", truth(chb, rate, eb), n)
        # Harmonics beyond the band have no figure.
        for ch, prefix in ((cha, "Dist"), (chb, "DistB")):
            hi = min(20000.0, 0.45 * rate / FREQ_CORR.get(rate, 1.0))
            for h in range(2, 11):
                if h * ch.f / FREQ_CORR.get(rate, 1.0) > hi + 1:
                    c.equal("case%d %s H%d out of band" % (i, prefix, h), values.get(prefix + "H%dDb" % h), "nan")

    # A 16-bit capture of a perfect sine: THD+N at the quantisation limit.
    rate, divider = 44100, 2
    n = 65536 // divider
    seconds = n / rate + 0.35
    count = int(rate * (seconds + 1.0))
    full, half = Channel(997.0, 32767 / 32768), Channel(2001.7, 0.5)
    wav = os.path.join(work, "pcm16.wav")
    ea, eb = write_pcm16_wav(wav, rate, full.samples(rate, count), half.samples(rate, count))
    cfg = os.path.join(work, "cfg_pcm16")
    os.makedirs(cfg, exist_ok=True)
    values = run(miral, cfg, wav, rate, divider, seconds)
    ta = truth(full, rate, ea)
    print("16-bit full-scale sine: THD+N %s dB (quantisation limit %.2f dB)" % (values.get("DistThdNDb"), ta["thdn_db"]))
    check_channel(c, "pcm16 A", values, "Dist", ta, n, quantised=True)
    check_channel(c, "pcm16 B", values, "DistB", truth(half, rate, eb), n, quantised=True)

    # Fundamentals below the guard (16384 points at 44100 Hz: 12.5 bins =
    # 33.6 Hz) say so instead of a number.
    rate, divider = 44100, 4
    n = 65536 // divider
    seconds = n / rate + 0.35
    count = int(rate * (seconds + 1.0))
    wav = os.path.join(work, "low.wav")
    write_float_wav(wav, rate, Channel(7.0, 0.5, {2: -40}).samples(rate, count),
                    Channel(30.0, 0.5, {2: -60}).samples(rate, count))
    cfg = os.path.join(work, "cfg_low")
    os.makedirs(cfg, exist_ok=True)
    values = run(miral, cfg, wav, rate, divider, seconds)
    for prefix in ("Dist", "DistB"):
        c.equal("low %s status" % prefix, values.get(prefix + "Status"), "f0 below guard")
        c.equal("low %s THD" % prefix, values.get(prefix + "ThdDb"), "nan")
        c.equal("low %s THD+N" % prefix, values.get(prefix + "ThdNDb"), "nan")

    print("worst deviations: " + ", ".join("%s %.3g" % kv for kv in sorted(c.worst.items())))
    print("%d passed, %d failed" % (c.passed, c.failed))
    return 1 if c.failed else 0


if __name__ == "__main__":
    sys.exit(main())
