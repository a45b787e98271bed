#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The automation API end to end against the headless instrument on the
simulated bench: the token, refused requests that change nothing, the
loopback-only listener, the limits, the example script in docs/ measuring an
RC low-pass against its formula, and the ways to end."""
import http.client
import json
import math
import os
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

MIRAL = sys.argv[1]
EXAMPLE = sys.argv[2]
R, C = 1000.0, 1e-7  # the device: an RC low-pass, corner 1591.5 Hz
failures = []


def check(name, ok, detail=""):
    print(("ok   " if ok else "FAIL ") + name + ("" if ok else ": " + str(detail)), flush=True)
    if not ok:
        failures.append(name)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def announcement(p):
    """The line in which the program says the API listens (Qt may warn first)."""
    for _ in range(20):
        line = p.stderr.readline()
        if not line or "automation API" in line:
            return line
    return ""


def start(cfg, port, *extra):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    p = subprocess.Popen([MIRAL, "--headless", "--config-dir", cfg, "--audio", "sim", "--dut",
                          "rc-lowpass:R=%g,C=%g" % (R, C), *extra, "--remote=%d" % port],
                         env=env, stderr=subprocess.PIPE, text=True)
    line = announcement(p)
    if "automation API" not in line:
        p.kill()
        raise SystemExit("the API did not start: " + line + p.stderr.read())
    return p


def call(port, method, path, body=None, token=None, host="127.0.0.1", raw=None):
    c = http.client.HTTPConnection(host, port, timeout=120)
    headers = {}
    if token is not None:
        headers["Authorization"] = "Bearer " + token
    data = raw if raw is not None else (None if body is None else json.dumps(body).encode())
    c.request(method, path, body=data, headers=headers)
    r = c.getresponse()
    payload = r.read()
    c.close()
    return r.status, r.getheader("Content-Type"), payload


def other_addresses():
    """The machine's addresses that are not loopback ones."""
    found = []
    try:
        out = subprocess.run(["ip", "-o", "addr"], capture_output=True, text=True).stdout
        for line in out.splitlines():
            parts = line.split()
            addr = parts[3].split("/")[0]
            if parts[1] != "lo" and not addr.startswith("fe80"):
                found.append(addr)
    except OSError:
        found = subprocess.run(["hostname", "-I"], capture_output=True, text=True).stdout.split()
    return found


with tempfile.TemporaryDirectory() as cfg:
    port = free_port()
    p = start(cfg, port, "--set", "genon1=1")
    token_file = os.path.join(cfg, "remote-token")
    token = open(token_file).read().strip()
    check("token file readable by its owner only", os.stat(token_file).st_mode & 0o777 == 0o600,
          oct(os.stat(token_file).st_mode))
    check("token long and random-looking", len(token) == 64 and len(set(token)) > 8, token)

    def printed(names):
        status, _, body = call(port, "GET", "/print?names=" + names, token=token)
        return status, json.loads(body)

    status, before = printed("genfreq,genon1,FftSize,hold")
    check("print", status == 200 and before == {"genfreq": "4400", "genon1": "1", "FftSize": "16384", "hold": "0"},
          before)

    # Without the token, or with a wrong one: 401 and nothing changes.
    for name, tok in (("no token", None), ("wrong token", "0" * 64), ("token prefix", token[:-1])):
        status, ctype, body = call(port, "POST", "/set", {"name": "genfreq", "value": "2000"}, token=tok)
        check("401 with " + name, status == 401 and "error" in json.loads(body) and ctype == "application/json",
              (status, body))
    status, _, _ = call(port, "POST", "/click", {"name": "genon1"})
    check("401 for a click without token", status == 401)
    status, _, _ = call(port, "POST", "/quit", {})
    check("401 for quit without token", status == 401 and p.poll() is None)
    check("nothing changed without the token", printed("genfreq,genon1,FftSize,hold")[1] == before)

    # Bad names and values: 400 with an error text, nothing changes.
    bad = [("POST", "/set", {"name": "nosuch", "value": "1"}),
           ("POST", "/set", {"name": "genfreq", "value": "fast"}),
           ("POST", "/set", {"name": "genfreq"}),
           ("POST", "/set", {"value": "1"}),
           ("POST", "/click", {"name": "nosuch"}),
           ("POST", "/wait", {"cycles": -3}),
           ("POST", "/wait", {"cycles": 1.5}),
           ("GET", "/print?names=genfreq,nosuch", None),
           ("GET", "/dump?array=Nothing", None)]
    for method, path, body in bad:
        status, ctype, reply = call(port, method, path, body, token=token)
        ok = status == 400 and ctype == "application/json" and json.loads(reply).get("error")
        check("400 for %s %s" % (path, body), ok, (status, reply))
    for raw in (b"{", b"[1,2]", b"\xff\xfe", b""):
        status, _, reply = call(port, "POST", "/set", token=token, raw=raw)
        check("400 for the body %r" % raw, status == 400 and "error" in json.loads(reply), (status, reply))
    status, _, _ = call(port, "GET", "/set", token=token)
    check("405 for a wrong method", status == 405)
    status, _, _ = call(port, "GET", "/nowhere", token=token)
    check("404 for an unknown path", status == 404)
    check("nothing changed after the refused requests", printed("genfreq,genon1,FftSize,hold")[1] == before)

    # What does change.
    status, _, reply = call(port, "POST", "/set", {"name": "genfreq", "value": 2000}, token=token)
    check("set", status == 200 and json.loads(reply) == {"ok": True}, reply)
    status, _, reply = call(port, "POST", "/wait", {"cycles": 3}, token=token)
    first = json.loads(reply)["cycles"]
    status, _, reply = call(port, "POST", "/wait", {"cycles": 5}, token=token)
    check("wait counts cycles", status == 200 and json.loads(reply)["cycles"] >= first + 5, reply)
    check("the set took effect", printed("genfreq,gendispl")[1] == {"genfreq": "2000", "gendispl": "200"})
    status, _, reply = call(port, "GET", "/dump?array=PlaybackA", token=token)
    values = json.loads(reply)["values"]
    # The generator table of 200 Hz at 44100/s: whole periods of a sine.
    peak = max(abs(v) for v in values)
    n = len(values)
    corr = abs(sum(v * complex(math.cos(2 * math.pi * 200 * i / 44100), math.sin(2 * math.pi * 200 * i / 44100))
                   for i, v in enumerate(values))) * 2 / n
    check("dump", status == 200 and n > 0 and abs(corr - peak) < 1e-3 * peak, (n, peak, corr))
    status, ctype, png = call(port, "GET", "/screenshot", token=token)
    width, height = struct.unpack(">II", png[16:24]) if len(png) > 24 else (0, 0)
    check("screenshot is a PNG", status == 200 and ctype == "image/png" and png[:8] == b"\x89PNG\r\n\x1a\n"
          and width > 100 and height > 100, (status, ctype, width, height))
    status, _, reply = call(port, "GET", "/status", token=token)
    check("status", status == 200 and isinstance(json.loads(reply)["status"], str), reply)

    # Only the loopback addresses answer.
    status, _, _ = call(port, "GET", "/status", token=token, host="::1")
    check("::1 answers", status == 200)
    others = other_addresses()
    check("the machine has another address to try", bool(others), others)
    for addr in others:
        family = socket.AF_INET6 if ":" in addr else socket.AF_INET
        with socket.socket(family, socket.SOCK_STREAM) as s:
            s.settimeout(5)
            try:
                s.connect((addr, port))
                reached = True
            except OSError:
                reached = False
        check("no connection on " + addr, not reached)

    # Limits: a body above 1 MiB, a ninth connection, a slow client.
    status, _, reply = call(port, "POST", "/set", token=token, raw=b" " * (1024 * 1024 + 1))
    check("413 for a body above 1 MiB", status == 413, (status, reply))
    held = []
    for _ in range(8):
        s = socket.create_connection(("127.0.0.1", port))
        held.append(s)
    time.sleep(0.5)
    ninth = socket.create_connection(("127.0.0.1", port))
    ninth.settimeout(30)
    answer = ninth.recv(4096)
    ninth.close()
    check("a ninth connection is refused", answer.startswith(b"HTTP/1.1 503"), answer[:40])
    # The eight say nothing: each is dropped after 5 s, not before 3 s.
    t0 = time.monotonic()
    for s in held:
        s.settimeout(30)
        try:
            data = s.recv(1)
        except OSError:
            data = b""
        s.close()
    waited = time.monotonic() - t0
    check("slow clients dropped after 5 s", data == b"" and 3 < waited < 30, waited)
    status, _, _ = call(port, "GET", "/status", token=token)
    check("the API answers again after the drops", status == 200)

    # The example from docs/ against the RC low-pass's own formula.
    freqs = [100, 500, 1000, 2000, 5000, 10000]
    out = subprocess.run([sys.executable, EXAMPLE, "--port", str(port), "--token-file", token_file] +
                         [str(f) for f in freqs], capture_output=True, text=True, timeout=600)
    rows = [line.split() for line in out.stdout.splitlines() if not line.startswith("#")]
    ok = out.returncode == 0 and len(rows) == len(freqs)
    worst_db = worst_deg = 0.0
    for f, row in zip(freqs, rows if ok else []):
        h = 1 / complex(1, 2 * math.pi * f * R * C)
        worst_db = max(worst_db, abs(float(row[1]) - 20 * math.log10(abs(h))))
        worst_deg = max(worst_deg, abs(float(row[2]) - math.degrees(math.atan2(h.imag, h.real))))
    check("example measures the RC low-pass (within 0.1 dB and 1 degree)", ok and worst_db < 0.1 and worst_deg < 1,
          (out.returncode, out.stdout, out.stderr[-500:], worst_db, worst_deg))
    print("     worst: %.4f dB, %.3f degrees" % (worst_db, worst_deg))

    # POST /quit switches off as "ON" does: the panel is stored, exit 0.
    status, _, reply = call(port, "POST", "/quit", {}, token=token)
    try:
        rc = p.wait(60)
    except subprocess.TimeoutExpired:
        p.kill()
        rc = "still running"
    check("quit ends the program", status == 200 and rc == 0, (status, rc))
    stored = subprocess.run([MIRAL, "--headless", "--config-dir", cfg, "--audio", "sim", "--print", "genfreq"],
                            capture_output=True, text=True, timeout=120).stdout
    check("quit stored the panel (the example's last frequency)", "genfreq=10000" in stored, stored)

with tempfile.TemporaryDirectory() as cfg:
    port = free_port()
    p = start(cfg, port)
    p.send_signal(signal.SIGTERM)
    try:
        rc = p.wait(60)
    except subprocess.TimeoutExpired:
        p.kill()
        rc = "still running"
    check("SIGTERM ends the program", rc == 0, rc)
    # The port is taken: one message, exit 2.
    with socket.socket() as blocker:
        blocker.bind(("127.0.0.1", 0))
        blocker.listen()
        taken = blocker.getsockname()[1]
        r = subprocess.run([MIRAL, "--headless", "--config-dir", cfg, "--audio", "sim", "--remote=%d" % taken],
                           capture_output=True, text=True, timeout=120)
        check("a taken port is refused", r.returncode == 2 and "cannot serve" in r.stderr, (r.returncode, r.stderr))

# The window serves the same API on its own event loop.
with tempfile.TemporaryDirectory() as cfg:
    port = free_port()
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    p = subprocess.Popen([MIRAL, "--config-dir", cfg, "--audio", "sim", "--remote=%d" % port], env=env,
                         stderr=subprocess.PIPE, text=True)
    line = announcement(p)
    check("the window announces the API", "automation API" in line, line)
    token = open(os.path.join(cfg, "remote-token")).read().strip()
    status, _, _ = call(port, "POST", "/set", {"name": "genfreq", "value": "3000"}, token=token)
    call(port, "POST", "/wait", {"cycles": 3}, token=token)
    _, _, reply = call(port, "GET", "/print?names=genfreq", token=token)
    _, ctype, png = call(port, "GET", "/screenshot", token=token)
    check("the window takes requests", status == 200 and json.loads(reply) == {"genfreq": "3000"}
          and ctype == "image/png" and png[:4] == b"\x89PNG", (status, reply, ctype))
    # A key on a settings page that the window does not show cannot be
    # clicked there: the API says so instead of reporting a click that
    # nothing received.
    status, _, reply = call(port, "POST", "/click", {"name": "loopback_test"}, token=token)
    check("a click on a page not shown is refused", status == 400 and b"not on the panel now" in reply,
          (status, reply))
    status, _, _ = call(port, "POST", "/quit", {}, token=token)
    try:
        rc = p.wait(60)
    except subprocess.TimeoutExpired:
        p.kill()
        rc = "still running"
    check("quit closes the window", status == 200 and rc == 0, (status, rc, p.stderr.read()[-500:]))

sys.exit(1 if failures else 0)
