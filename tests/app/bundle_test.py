#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Measurement bundles end to end: saved on the simulated bench in each view,
opened again with --audio bundle:FILE, the arrays and the screen come back bit
for bit; scipy reads the file; damaged and foreign files are refused with one
message, exit 3, and nothing stored changes."""
import hashlib
import os
import subprocess
import sys
import tempfile

import numpy as np
import scipy.io

MIRAL = sys.argv[1]
failures = []


def check(name, ok, detail=""):
    print(("ok   " if ok else "FAIL ") + name + ("" if ok else ": " + detail))
    if not ok:
        failures.append(name)


def run(cfg, *args):
    return subprocess.run([MIRAL, "--headless", "--config-dir", cfg, *args], capture_output=True, text=True,
                          timeout=600)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def folder_digest(folder):
    h = hashlib.sha256()
    for name in sorted(os.listdir(folder)):
        h.update(name.encode())
        h.update(read(os.path.join(folder, name)))
    return h.hexdigest()


ARRAYS = ["DisplayA", "DisplayB", "DisplayPhase", "TimeWorkA", "TimeWorkB", "ScopeTraceA", "ScopeTraceB"]
PRINTS = "FftSize,CaptureRate,Decimation,Edit11,DistThdDb,DistBThdNDb,DistF0"

VIEWS = {
    "F": ["--dut", "harmonics:h2=-60,h3=-70+noise:dbfs=-90", "--set", "genon1=1", "--set", "ComboBox3=2"],
    "T": ["--dut", "rc-lowpass:R=1000,C=1e-7", "--set", "genon1=1", "--set", "Tempo=1", "--set", "mainselect=5"],
    # The averaging of these views released once its automatic start is over.
    "XFR": ["--dut", "rc-lowpass:R=1000,C=1e-7", "--set", "trasf=1", "--run", "1", "--set", "lowf=0", "--set", "avg=0"],
    "Z": ["--dut", "shunt:R=10,C=1u", "--set", "zeta=1", "--run", "1", "--set", "lowf=0", "--set", "avg=0"],
}
# What each view shows: the time view its scope traces, the others their
# spectra (the arrays of the other kind hold whatever was computed last).
SHOWN = {"T": ["TimeWorkA", "TimeWorkB", "ScopeTraceA", "ScopeTraceB"],
         "F": ["DisplayA", "DisplayB", "DisplayPhase", "TimeWorkA", "TimeWorkB"]}
SHOWN["XFR"] = SHOWN["Z"] = SHOWN["F"]

with tempfile.TemporaryDirectory() as tmp:
    for view, setup in VIEWS.items():
        src_cfg = os.path.join(tmp, "src-" + view)
        dst_cfg = os.path.join(tmp, "dst-" + view)
        os.mkdir(src_cfg)
        os.mkdir(dst_cfg)
        bundle = os.path.join(tmp, view + ".miral")
        dumps = []
        for a in ARRAYS:
            dumps += ["--dump", f"{a}={tmp}/{view}-1-{a}.txt"]
        r = run(src_cfg, "--audio", "sim", *setup, "--run", "1.5", "--save-bundle", bundle, *dumps,
                "--screenshot", f"{tmp}/{view}-1.png", "--print", PRINTS)
        check(f"{view}: saved", r.returncode == 0 and os.path.exists(bundle), r.stderr)
        if r.returncode != 0:
            continue
        before = folder_digest(dst_cfg)
        dumps = []
        for a in ARRAYS:
            dumps += ["--dump", f"{a}={tmp}/{view}-2-{a}.txt"]
        # Switched off at the end as "ON" does: the stored panel must not change.
        r2 = run(dst_cfg, "--audio", "bundle:" + bundle, "--run", "0.5", *dumps, "--screenshot", f"{tmp}/{view}-2.png",
                 "--print", PRINTS, "--click", "Panel29")
        check(f"{view}: reopened", r2.returncode == 0, r2.stderr)
        for a in SHOWN[view]:
            one, two = read(f"{tmp}/{view}-1-{a}.txt"), read(f"{tmp}/{view}-2-{a}.txt")
            check(f"{view}: {a} bit for bit", one == two, f"{len(one)} vs {len(two)} bytes")
        check(f"{view}: screen bit for bit", read(f"{tmp}/{view}-1.png") == read(f"{tmp}/{view}-2.png"))
        if view == "T":  # the FFT size is not the time view's
            r.stdout = r.stdout.split("\n", 1)[1]
            r2.stdout = r2.stdout.split("\n", 1)[1]
        check(f"{view}: readouts", r.stdout == r2.stdout, r.stdout + " vs " + r2.stdout)
        check(f"{view}: stored panel untouched", folder_digest(dst_cfg) == before, str(os.listdir(dst_cfg)))

        # An independent reader: scipy. The capture is what the instrument
        # analysed: its newest FftSize samples times 32768 are TimeWorkA
        # (the simulated bench's gain correction is off at 0 dB here).
        m = scipy.io.loadmat(bundle)
        names = {"miral_bundle", "miral_version", "capture_a", "capture_b", "sample_rate", "capture_rate",
                 "decimation", "sample_format", "view", "fft_size", "panel_state", "preferences", "probe_table"}
        check(f"{view}: scipy sees the variables", names <= set(m), str(sorted(m)))
        check(f"{view}: view name", str(m["view"][0]) == view, str(m["view"]))
        check(f"{view}: capture shape", m["capture_a"].shape == (65536, 1) and m["capture_a"].dtype == np.float32)
        check(f"{view}: rates agree", m["sample_rate"][0, 0] * m["decimation"][0, 0] == m["capture_rate"][0, 0])
        tw = np.loadtxt(f"{tmp}/{view}-1-TimeWorkA.txt")
        if view != "T":
            tail = m["capture_a"][-len(tw):, 0].astype(np.float64) * 32768
            check(f"{view}: capture_a is the analysed window", np.array_equal(tail, tw),
                  f"max diff {np.max(np.abs(tail - tw))}")
        check(f"{view}: panel text", str(m["panel_state"][0]).startswith("miral-registry 1\n"))

    # The Save key with "BUNDLE" checked writes NAME.miral beside the picture.
    cfg = os.path.join(tmp, "save")
    os.mkdir(cfg)
    r = run(cfg, "--audio", "sim", "--set", "bundleexport=1", "--run", "0.5", "--save-dialog", f"{tmp}/shot.png",
            "--click", "savescreen", "--print", "StatusText")
    check("Save key writes the bundle", os.path.exists(f"{tmp}/shot.miral") and "shot.miral" in r.stdout, r.stdout)
    r = run(cfg, f"{tmp}/shot.miral", "--run", "0.2", "--print", "bundleexport")
    check("a .miral argument opens the bundle", r.returncode == 0 and "Bundle " in r.stderr, r.stderr)

    # Damaged and foreign files: one message, exit 3, nothing stored changes.
    good = read(os.path.join(tmp, "F.miral"))
    cases = {
        "truncated": good[: len(good) // 2],
        "empty": b"",
        "random": bytes(np.random.default_rng(1).integers(0, 256, 70000, dtype=np.uint8)),
        "header only": good[:128],
        "flipped size": good[:132] + b"\xff\xff\xff\x7f" + good[136:],
    }
    foreign = os.path.join(tmp, "foreign.mat")
    scipy.io.savemat(foreign, {"x": np.arange(10.0)})
    cases["foreign MAT-file"] = read(foreign)
    renamed = bytearray(good)
    i = renamed.find(b"miral_bundle")
    renamed[i:i + 5] = b"other"
    cases["no bundle marker"] = bytes(renamed)
    probe = bytearray(good)
    i = probe.find(b"probe_table")
    # The table's first int32 (the selected colour scheme) set to 99: not a prefs.dat.
    probe[i + 16 + 8] = 99
    cases["bad probe table"] = bytes(probe)
    cfg = os.path.join(tmp, "bad")
    os.mkdir(cfg)
    run(cfg, "--audio", "sim", "--set", "Tempo=1", "--click", "Panel29")
    before = folder_digest(cfg)
    for name, data in cases.items():
        path = os.path.join(tmp, "bad.miral")
        with open(path, "wb") as f:
            f.write(data)
        r = run(cfg, "--audio", "bundle:" + path, "--run", "0.1", "--click", "Panel29")
        lines = [l for l in r.stderr.splitlines() if l.strip()]
        check(f"damaged bundle ({name})", r.returncode == 3 and len(lines) == 1 and "cannot open bundle" in lines[0],
              f"exit {r.returncode}: {r.stderr}")
    check("damaged bundles change nothing stored", folder_digest(cfg) == before)
    r = run(cfg, "--audio", "bundle:" + os.path.join(tmp, "missing.miral"))
    check("missing bundle", r.returncode == 3 and "no such file" in r.stderr, r.stderr)

print("bundle test: " + ("all passed" if not failures else f"{len(failures)} failed"))
sys.exit(1 if failures else 0)
