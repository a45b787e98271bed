#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The Save key's files as other programs read them: the picture with its
real type, the CSV with Python's csv module and numpy, cross-checked against
the MAT-file read by scipy. Usage: export_read_test.py MIRAL"""
import csv
import os
import subprocess
import sys
import tempfile

import numpy as np
import scipy.io

MIRAL = sys.argv[1]
failures = 0


def check(ok, what):
    global failures
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures += 1


def run(cfg, *args):
    return subprocess.run([MIRAL, "--headless", "--config-dir", cfg, "--audio", "sim", *args],
                          capture_output=True, text=True, timeout=300)


def read_csv(path):
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    header = rows[0]
    data = np.array([[float(v) for v in r] for r in rows[1:]])
    return header, data


with tempfile.TemporaryDirectory() as cfg:
    # The spectrum of the main generator's 440 Hz sine looped back into both
    # inputs: PNG, MAT-file and CSV under one name.
    base = os.path.join(cfg, "spectrum")
    r = run(cfg, "--set", "genon1=1", "--set", "CheckBox6=1", "--set", "csvexport=1", "--run", "1",
            "--save-dialog", base + ".png", "--click", "savescreen")
    check(r.returncode == 0, "spectrum saved: " + r.stderr.strip())
    with open(base + ".png", "rb") as f:
        check(f.read(8) == b"\x89PNG\r\n\x1a\n", "the picture named .png is a PNG")
    header, data = read_csv(base + ".csv")
    check(header == ["frequency (Hz)", "A (dB re 1 mV rms)", "B (dB re 1 mV rms)"], "CSV header names the units: %s" % header)
    freq, a, b = data[:, 0], data[:, 1], data[:, 2]
    step = np.diff(freq)
    check(len(freq) > 100 and np.allclose(step, step[0]), "one row per bin, evenly spaced (%d rows)" % len(freq))
    check(abs(freq[np.argmax(a)] - 440) <= 2 * step[0], "channel A peaks at 440 Hz: %.1f" % freq[np.argmax(a)])
    check(abs(freq[np.argmax(b)] - 440) <= 2 * step[0], "channel B peaks at 440 Hz: %.1f" % freq[np.argmax(b)])
    check(freq[0] >= 10 - step[0] and freq[-1] <= 22050, "the rows cover the band on the screen")
    # The same bins in the MAT-file (scipy's reader): the CSV holds the same numbers.
    mat = scipy.io.loadmat(base + ".mat")
    bin_width = freq[1] - freq[0]
    bins = np.rint(freq / bin_width).astype(int)
    module2 = mat["Module2Db"].ravel()
    module1 = mat["Module1Db"].ravel()
    inside = bins < len(module2)
    check(inside.sum() > 100 and np.allclose(a[inside], module2[bins[inside]], rtol=1e-12, atol=1e-9),
          "CSV column A equals the MAT-file's Module2Db bin by bin")
    check(np.allclose(b[inside], module1[bins[inside]], rtol=1e-12, atol=1e-9),
          "CSV column B equals the MAT-file's Module1Db bin by bin")

    # The scope: time in seconds; the sine crosses zero 880 times a second.
    base = os.path.join(cfg, "scope")
    r = run(cfg, "--set", "genon1=1", "--set", "Tempo=1", "--set", "mainselect=4", "--set", "csvexport=1",
            "--set", "CheckBox1=0", "--run", "0.5", "--save-dialog", base + ".jpg", "--click", "savescreen")
    check(r.returncode == 0 and not os.path.exists(base + ".jpg"), "scope saved without a picture")
    header, data = read_csv(base + ".csv")
    check(header == ["time (s)", "A (full scale = 1)", "B (full scale = 1)"], "scope CSV header: %s" % header)
    t, a = data[:, 0], data[:, 1]
    crossings = np.nonzero(np.diff(np.signbit(a - a.mean())))[0]
    span = t[crossings[-1]] - t[crossings[0]]
    f = (len(crossings) - 1) / 2 / span if span > 0 else 0
    check(abs(f - 440) < 440 * 0.02, "the time column is in seconds: a %.1f Hz sine" % f)
    check(0.05 < np.abs(a).max() <= 1.0, "levels as a fraction of full scale: peak %.3f" % np.abs(a).max())

    # JPEG and BMP are written in the type chosen.
    for name, magic in (("s.jpg", b"\xff\xd8\xff"), ("s.bmp", b"BM")):
        path = os.path.join(cfg, name)
        r = run(cfg, "--run", "0.1", "--save-dialog", path, "--click", "savescreen")
        with open(path, "rb") as f:
            check(f.read(len(magic)) == magic, name + " is written in its type")

print("%d failed" % failures)
sys.exit(1 if failures else 0)
