#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real window under Xvfb with a window manager: Alt+F4 (the window
# manager's close) and the end of the session (SIGTERM) store the panel as
# the power key does, and the next start comes up with it.
# Usage: window_close_test.sh MIRAL
set -uo pipefail
MIRAL="$1"
for tool in Xvfb openbox xdotool; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 0; }
done
unset QT_QPA_PLATFORM
WORK="$(mktemp -d)"
PIDS=()
cleanup() {
    for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT
exec 3>"$WORK/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
PIDS+=($!)
exec 3>&-
for _ in $(seq 50); do [ -s "$WORK/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$WORK/display")"
openbox >/dev/null 2>&1 &
PIDS+=($!)
sleep 1
fail=0

# start_window CFG: the window on the simulated bench; its pid in WIN_PID,
# its X window in WIN.
start_window() {
    "$MIRAL" --config-dir "$1" --audio sim >"$1/out.log" 2>&1 &
    WIN_PID=$!
    WIN="$(timeout 30 xdotool search --sync --onlyvisible --pid "$WIN_PID" | head -n1)"
    sleep 2  # the power-on restore
}
# ends_within SECONDS: the window's process ended in time, with status 0.
ends_within() {
    for _ in $(seq $(($1 * 10))); do
        if ! kill -0 "$WIN_PID" 2>/dev/null; then
            wait "$WIN_PID"
            return $?
        fi
        sleep 0.1
    done
    kill -9 "$WIN_PID" 2>/dev/null
    return 1
}

CFG="$WORK/alt-f4"
mkdir -p "$CFG"
start_window "$CFG"
# The user switches to the time view (key T), then closes with Alt+F4.
xdotool windowactivate --sync "$WIN" key --clearmodifiers t
sleep 0.5
xdotool windowactivate --sync "$WIN" key --clearmodifiers alt+F4
if ends_within 10 && grep -q '^int check_all ' "$CFG/registry.txt" 2>/dev/null; then
    echo "ok   Alt+F4 stores the panel and ends"
else
    echo "FAIL Alt+F4: $(cat "$CFG/out.log")"; fail=1
fi
out="$("$MIRAL" --headless --config-dir "$CFG" --audio sim --print Tempo 2>&1)"
if grep -q '^Tempo=1$' <<<"$out"; then echo "ok   the next start has the time view"; else echo "FAIL next start: $out"; fail=1; fi

CFG="$WORK/logout"
mkdir -p "$CFG"
start_window "$CFG"
xdotool windowactivate --sync "$WIN" key --clearmodifiers x
sleep 0.5
kill -TERM "$WIN_PID"
if ends_within 10 && grep -q '^int check_all ' "$CFG/registry.txt" 2>/dev/null; then
    echo "ok   the end of the session (SIGTERM) stores the panel"
else
    echo "FAIL SIGTERM: $(cat "$CFG/out.log")"; fail=1
fi
out="$("$MIRAL" --headless --config-dir "$CFG" --audio sim --print trasf 2>&1)"
if grep -q '^trasf=1$' <<<"$out"; then echo "ok   the next start has the transfer view"; else echo "FAIL next start: $out"; fail=1; fi

# A damaged bundle opened from the file manager: a message box says so (no
# terminal is there to read), and once it is closed the program ends with 3,
# storing nothing.
CFG="$WORK/damaged"
mkdir -p "$CFG"
head -c 300 /dev/urandom >"$CFG/damaged.miral"
"$MIRAL" --config-dir "$CFG" "$CFG/damaged.miral" >"$CFG/out.log" 2>&1 &
WIN_PID=$!
BOX="$(timeout 30 xdotool search --sync --onlyvisible --pid "$WIN_PID" | head -n1)"
if [ -n "$BOX" ] && kill -0 "$WIN_PID" 2>/dev/null; then
    xdotool windowactivate --sync "$BOX" key --clearmodifiers Return
    ends_within 10
    rc=$?
    if [ "$rc" = 3 ] && [ ! -e "$CFG/registry.txt" ] && grep -q 'damaged.miral' "$CFG/out.log"; then
        echo "ok   a damaged bundle opened in the window is said in a message box, then exit 3"
    else
        echo "FAIL damaged bundle: exit $rc, $(cat "$CFG/out.log")"; fail=1
    fi
else
    echo "FAIL damaged bundle: no message box ($(cat "$CFG/out.log"))"; fail=1
    kill -9 "$WIN_PID" 2>/dev/null
fi
exit $fail
