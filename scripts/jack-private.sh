# SPDX-License-Identifier: GPL-3.0-or-later
# Start and stop a private JACK server (jackd2 with its dummy driver, 48000 Hz:
# not the instrument's default rate, as on many desktops)
# for the tests. Source it.
#
# The server has a name of its own, so that it meets no other JACK server on
# the machine; clients find it through JACK_DEFAULT_SERVER. Its dummy driver
# has two silent capture ports and two playback ports that go nowhere: a test
# loops the instrument's playback ports to its capture ports with jack_connect.
#
#   miral_jack_start   sets JACK_DEFAULT_SERVER and MIRAL_JACK=1 when the server
#                      answers; says why and leaves MIRAL_JACK unset when it
#                      cannot start; never fails the caller
#   miral_jack_stop    stops that server (by its own process id); safe to call
#                      twice or without a start
miral_jack_start() {
    unset MIRAL_JACK
    local tool
    for tool in jackd jack_lsp jack_connect; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            MIRAL_JACK_SKIP="$tool is not installed"
            export MIRAL_JACK_SKIP
            echo "miral: $MIRAL_JACK_SKIP; the JACK loop will be skipped"
            return 0
        fi
    done
    MIRAL_JACK_DIR="$(mktemp -d /tmp/mjk.XXXXXX)"
    export MIRAL_JACK_DIR
    export JACK_DEFAULT_SERVER="miral_$(basename "$MIRAL_JACK_DIR")"
    # No device to reserve: the dummy driver needs no D-Bus.
    JACK_NO_AUDIO_RESERVATION=1 jackd --no-realtime -n "$JACK_DEFAULT_SERVER" \
        -d dummy -r 48000 -p 1024 -C 2 -P 2 </dev/null >"$MIRAL_JACK_DIR/jackd.log" 2>&1 &
    MIRAL_JACK_PID=$!
    echo "$MIRAL_JACK_PID" > "$MIRAL_JACK_DIR/server.pid"
    # Should this shell die without miral_jack_stop, a watcher stops the
    # server and removes its folder.
    local owner=$$ dir=$MIRAL_JACK_DIR pid=$MIRAL_JACK_PID
    (
        while kill -0 "$owner" 2>/dev/null && [ -d "$dir" ]; do sleep 2; done
        kill "$pid" 2>/dev/null
        sleep 1
        kill -9 "$pid" 2>/dev/null
        rm -rf "$dir"
    ) </dev/null >/dev/null 2>&1 &
    MIRAL_JACK_WATCH_PID=$!
    local i
    for i in $(seq 1 100); do
        if jack_lsp 2>/dev/null | grep -q '^system:playback_1$'; then
            export MIRAL_JACK=1
            unset MIRAL_JACK_SKIP
            echo "miral: private JACK server \"$JACK_DEFAULT_SERVER\" (dummy driver, 48000 Hz)"
            return 0
        fi
        kill -0 "$MIRAL_JACK_PID" 2>/dev/null || break
        sleep 0.1
    done
    MIRAL_JACK_SKIP="the private JACK server did not start: $(tail -3 "$MIRAL_JACK_DIR/jackd.log" 2>/dev/null | tr '\n' ' ')"
    export MIRAL_JACK_SKIP
    echo "miral: $MIRAL_JACK_SKIP; the JACK loop will be skipped"
    return 0
}

miral_jack_stop() {
    if [ -n "${MIRAL_JACK_WATCH_PID:-}" ]; then
        kill "$MIRAL_JACK_WATCH_PID" 2>/dev/null || true
        wait "$MIRAL_JACK_WATCH_PID" 2>/dev/null || true
        unset MIRAL_JACK_WATCH_PID
    fi
    if [ -n "${MIRAL_JACK_PID:-}" ]; then
        kill "$MIRAL_JACK_PID" 2>/dev/null || true
        local i
        for i in $(seq 1 50); do
            kill -0 "$MIRAL_JACK_PID" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$MIRAL_JACK_PID" 2>/dev/null || true
        wait "$MIRAL_JACK_PID" 2>/dev/null || true
        unset MIRAL_JACK_PID
    fi
    if [ -n "${MIRAL_JACK_DIR:-}" ]; then
        rm -rf "$MIRAL_JACK_DIR"
        unset MIRAL_JACK_DIR
    fi
    unset MIRAL_JACK JACK_DEFAULT_SERVER
}
