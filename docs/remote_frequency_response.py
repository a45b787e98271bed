#!/usr/bin/env python3
"""Measures a frequency response through Miral's automation API.

Start the instrument with the API, wire the generator output to the device
and to input B, the device's output to input A, then run this script:

    miral --remote            (or: miral --headless --remote)
    python3 remote_frequency_response.py 100 200 500 1000 2000 5000 10000

For each frequency it sets the main generator, lets the capture fill with the
new tone, fetches the newest samples of both inputs and prints the gain A/B in
dB and the phase in degrees. Python's standard library only.

Options: --port PORT (4780), --token-file FILE (remote-token in the
configuration folder, ~/.config/miral unless XDG_CONFIG_HOME says otherwise).
"""
import argparse
import cmath
import json
import math
import os
import sys
import time
import urllib.error
import urllib.request


class Miral:
    def __init__(self, port, token):
        self.base = "http://127.0.0.1:%d" % port
        self.token = token

    def call(self, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(self.base + path, data=data, method="GET" if body is None else "POST")
        request.add_header("Authorization", "Bearer " + self.token)
        if data is not None:
            request.add_header("Content-Type", "application/json")
        try:
            with urllib.request.urlopen(request, timeout=120) as reply:
                return json.loads(reply.read())
        except urllib.error.HTTPError as e:
            raise SystemExit("%s: %s" % (path, json.loads(e.read()).get("error", e.reason)))

    def set(self, name, value):
        self.call("/set", {"name": name, "value": str(value)})

    def click(self, name):
        self.call("/click", {"name": name})

    def print(self, *names):
        return self.call("/print?names=" + ",".join(names))

    def wait(self, cycles):
        self.call("/wait", {"cycles": cycles})

    def dump(self, array):
        return self.call("/dump?array=" + array)["values"]


def tone(samples, rate, f):
    """The complex amplitude of the frequency f in the samples (one DFT bin)."""
    w = -2j * math.pi * f / rate
    return sum(x * cmath.exp(w * n) for n, x in enumerate(samples))


def set_frequency(miral, f):
    # The main generator: range " 1", " 10", " 100" or " 1k" and a knob of
    # 1000..10000 thousandths of it.
    for button, scale in (("genx1", 1), ("genx2", 10), ("genx3", 100), ("genx4", 1000)):
        if f <= 10 * scale:
            miral.set(button, 1)
            miral.set("genfreq", round(f * 1000 / scale))
            return


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("frequencies", nargs="*", type=float, default=[100, 200, 500, 1000, 2000, 5000, 10000])
    parser.add_argument("--port", type=int, default=4780)
    config = os.environ.get("XDG_CONFIG_HOME") or os.path.expanduser("~/.config")
    parser.add_argument("--token-file", default=os.path.join(config, "miral", "remote-token"))
    parser.add_argument("--settle", type=float, default=0.6, help="seconds for the capture to fill with a new tone")
    args = parser.parse_args()

    with open(args.token_file) as f:
        miral = Miral(args.port, f.read().strip())

    miral.set("genon1", 1)  # the main generator on, a sine
    miral.set("gensin1", 1)
    print("# frequency_hz gain_db phase_deg")
    for f in args.frequencies:
        set_frequency(miral, f)
        time.sleep(args.settle)
        miral.wait(2)
        miral.set("hold", 1)  # both inputs of one moment
        a = miral.dump("TimeWorkA")
        b = miral.dump("TimeWorkB")
        miral.set("hold", 0)
        rate = float(miral.print("AnalysisRate")["AnalysisRate"])
        ta, tb = tone(a, rate, f), tone(b, rate, f)
        if abs(tb) == 0:
            sys.exit("no signal on input B at %g Hz: is the generator wired to it?" % f)
        h = ta / tb
        print("%g %.3f %.2f" % (f, 20 * math.log10(abs(h)), math.degrees(cmath.phase(h))), flush=True)


if __name__ == "__main__":
    main()
