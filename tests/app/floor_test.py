#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The card's own floor end to end on the simulated bench: the loopback test
of a device with known noise and second harmonic finds them within 1 dB, the
floor is stored per card, rate and format and printed, the panel comes back,
and distortion figures at the floor are marked while others are not."""
import math
import os
import subprocess
import sys
import tempfile

MIRAL = sys.argv[1]
failures = []
NOISE_RE_ONE = -100.0  # the bench's noise: r.m.s. in dB relative to 1.0
H2 = -110.0            # its 2nd harmonic, dB below a full-scale sine's fundamental
DUT = "noise:dbfs=%g+harmonics:h2=%g" % (NOISE_RE_ONE, H2)
NAMES = ["FloorThdDbA", "FloorThdNDbA", "FloorNoiseDbfsA", "FloorThdDbB", "FloorThdNDbB", "FloorNoiseDbfsB"]


def check(name, ok, detail=""):
    print(("ok   " if ok else "FAIL ") + name + ("" if ok else ": " + str(detail)), flush=True)
    if not ok:
        failures.append(name)


def run(cfg, *args):
    r = subprocess.run([MIRAL, "--headless", "--config-dir", cfg, "--audio", "sim", *args], capture_output=True,
                       text=True, timeout=600, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    values = {}
    for line in r.stdout.splitlines():
        k, _, v = line.partition("=")
        values[k] = v
    return r, values


def db(x):
    return 10 * math.log10(x)


with tempfile.TemporaryDirectory() as cfg:
    r, v = run(cfg, "--dut", DUT, "--print", ",".join(NAMES) + ",DistAtFloor,genampl,genx3,Tempo,genfreq,CaptureRate")
    check("no floor before the test", all(v.get(n) == "nan" for n in NAMES) and r.returncode == 0, v)
    before = {k: v[k] for k in ("genampl", "genx3", "Tempo", "genfreq")}
    rate = float(v["CaptureRate"])

    r, v = run(cfg, "--dut", DUT, "--click", "loopback_test", "--print", ",".join(NAMES) + ",genampl,genx3,Tempo,genfreq")
    check("the test runs", r.returncode == 0 and "Loopback test: A THD" in r.stderr, r.stderr)
    # The truth from the bench's parameters. The -1 dBFS step is the
    # generator's peak of 32000 / 32768 / 1.1 of full scale; the 2nd harmonic
    # of a sine of peak a is a times weaker than at full scale.
    a = 32000 / 32768 / 1.1
    thd = H2 + 20 * math.log10(a)
    # The white noise in the 20 Hz .. 20 kHz band, relative to a full-scale
    # sine (r.m.s. 1/sqrt(2)), and relative to the -1 dBFS tone.
    band = (20000 - 20) / (rate / 2)
    noise_power = 10 ** (NOISE_RE_ONE / 10) * band
    noise_dbfs = db(noise_power / 0.5)
    thdn = db((noise_power + (10 ** (thd / 20) * a / math.sqrt(2)) ** 2) / (a * a / 2))
    got = {n: float(v.get(n, "nan")) for n in NAMES}
    check("THD of A within 1 dB of %.2f" % thd, abs(got["FloorThdDbA"] - thd) < 1, got)
    check("THD+N of A within 1 dB of %.2f" % thdn, abs(got["FloorThdNDbA"] - thdn) < 1, got)
    check("noise of A within 1 dB of %.2f dBFS" % noise_dbfs, abs(got["FloorNoiseDbfsA"] - noise_dbfs) < 1, got)
    check("noise of B within 1 dB of %.2f dBFS" % noise_dbfs, abs(got["FloorNoiseDbfsB"] - noise_dbfs) < 1, got)
    # B has the noise but no harmonic: its THD is far below A's.
    check("THD of B below A's", got["FloorThdDbB"] < thd - 3, got)
    print("     A: THD %.2f (true %.2f), THD+N %.2f (%.2f), noise %.2f (%.2f) dB" %
          (got["FloorThdDbA"], thd, got["FloorThdNDbA"], thdn, got["FloorNoiseDbfsA"], noise_dbfs))
    check("the panel comes back", {k: v.get(k) for k in before} == before, (before, v))

    stored = open(os.path.join(cfg, "card-floor.txt")).read().splitlines()
    rows = [line.split("\t") for line in stored if not line.startswith("#")]
    check("one line per card, rate and format", len(rows) == 1 and rows[0][0].startswith("sim:")
          and rows[0][1] == "%d" % rate and rows[0][2] == "float", stored)
    # A second test replaces the line of its card; another card's line stays.
    with open(os.path.join(cfg, "card-floor.txt"), "a") as f:
        f.write("pulse:3\t48000\tfloat\t-100\t-90\t-95\t-100\t-90\t-95\n")
    r, v = run(cfg, "--dut", DUT, "--click", "loopback_test", "--print", "FloorThdDbA")
    stored = open(os.path.join(cfg, "card-floor.txt")).read().splitlines()
    rows = [line.split("\t") for line in stored if not line.startswith("#")]
    check("a new test replaces its card's line only", len(rows) == 2 and sum(r[0] == "pulse:3" for r in rows) == 1,
          stored)

    # Marks: the same device measured at 1 kHz is at the floor, a worse one is not.
    tone = ["--set", "genon1=1", "--set", "genx4=1", "--set", "genfreq=1000", "--set", "genampl=100", "--run", "1.5"]
    r, v = run(cfg, "--dut", DUT, *tone, "--print", "DistAtFloor,DistThdDb")
    check("a figure at the floor is marked", v.get("DistAtFloor") == "1", v)
    # (Channel B, a plain wire on this bench, is at its floor whatever A has:
    # channel A alone is shown.)
    r, v = run(cfg, "--dut", "harmonics:h2=-60+noise:dbfs=-100", *tone, "--set", "modea=1", "--run", "0.5",
               "--print", "DistAtFloor,DistThdDb")
    check("a figure 50 dB above the floor is not", v.get("DistAtFloor") == "0" and float(v["DistThdDb"]) > -65, v)

    # A damaged file: no floor, no mark, no crash.
    with open(os.path.join(cfg, "card-floor.txt"), "w") as f:
        f.write("garbage\n\0\t\t\t\n" + rows[0][0] + "\t" + rows[0][1] + "\t" + rows[0][2] + "\tx\ty\n")
    r, v = run(cfg, "--dut", DUT, *tone, "--print", "DistAtFloor,FloorThdDbA")
    check("a damaged file gives no floor", r.returncode == 0 and v.get("DistAtFloor") == "0"
          and v.get("FloorThdDbA") == "nan", (r.returncode, v))

with tempfile.TemporaryDirectory() as cfg:
    r, v = run(cfg, "--dut", DUT, *tone, "--print", "DistAtFloor")
    check("without a stored floor nothing is marked", v.get("DistAtFloor") == "0", v)
    # No tone comes back on B: the test gives up with its reason, stores nothing
    # and puts the panel back.
    r, v = run(cfg, "--dut", "gain-b:db=-200", "--click", "loopback_test", "--print", "genon1,FloorThdDbA")
    check("without a tone the test gives up", r.returncode == 0 and "Loopback test failed: no 1 kHz tone" in r.stderr
          and v.get("genon1") == "0" and v.get("FloorThdDbA") == "nan"
          and not os.path.exists(os.path.join(cfg, "card-floor.txt")), (r.stderr, v))

sys.exit(1 if failures else 0)
