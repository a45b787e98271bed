# SPDX-License-Identifier: GPL-3.0-or-later
# Start and stop a private PulseAudio server for the tests. Source it.
#
# The server runs as the current user (root included), without D-Bus, keeps its
# runtime and configuration in a short temporary folder (UNIX socket paths are
# limited to 108 bytes) and offers one null sink whose monitor is the default
# source, so that what a test plays comes back when it records.
#
#   miral_pulse_start   sets PULSE_SERVER, PULSE_RUNTIME_PATH and MIRAL_PULSE=1
#                       when the server answers; never fails the caller
#   miral_pulse_stop    stops that server (by its own process id) and removes
#                       the folder; safe to call twice or without a start
#   miral_pulse_kill    kills the server as a crash would (SIGKILL) and keeps
#                       its folder; for tests of a server that goes away
#   miral_pulse_freeze  stops the server (SIGSTOP): it keeps its connections
#                       but answers nothing; miral_pulse_thaw lets it go on
#   miral_pulse_restart starts the server again in the same folder, at the
#                       same socket path (after miral_pulse_kill, or killing
#                       a running one first); fails when it does not answer
# Kill and restart work from any shell that has the variables of the start
# (a test's child process): the server's process id is kept in the folder.
miral_pulse_start() {
    if ! command -v pulseaudio >/dev/null 2>&1 || ! command -v pactl >/dev/null 2>&1; then
        echo "miral: pulseaudio or pactl not installed; real audio tests will be skipped"
        return 0
    fi
    MIRAL_PULSE_DIR="$(mktemp -d /tmp/mpa.XXXXXX)"
    export MIRAL_PULSE_DIR
    mkdir -p "$MIRAL_PULSE_DIR/runtime" "$MIRAL_PULSE_DIR/home/.config/pulse"
    # avoid-resampling lets the null sink follow the rate of the stream that
    # plays, so a loop test hears its own samples; the alternate rate of 4000
    # keeps every rate the instrument offers inside one family.
    cat > "$MIRAL_PULSE_DIR/home/.config/pulse/daemon.conf" <<CONF
exit-idle-time = -1
avoid-resampling = yes
default-sample-format = float32le
default-sample-rate = 44100
alternate-sample-rate = 4000
default-sample-channels = 2
flat-volumes = no
realtime-scheduling = no
high-priority = no
CONF
    # norewinds: without it a new recording of the monitor stalls about two
    # seconds while the sink rewinds.
    cat > "$MIRAL_PULSE_DIR/default.pa" <<CONF
load-module module-null-sink sink_name=miral_null sink_properties=device.description=MiralNull norewinds=1
set-default-sink miral_null
set-default-source miral_null.monitor
load-module module-native-protocol-unix auth-anonymous=1
CONF
    # A client configuration of our own: never autospawn another server.
    printf 'autospawn = no\n' > "$MIRAL_PULSE_DIR/home/.config/pulse/client.conf"
    export PULSE_RUNTIME_PATH="$MIRAL_PULSE_DIR/runtime"
    export PULSE_STATE_PATH="$MIRAL_PULSE_DIR/runtime"
    export PULSE_SERVER="unix:$MIRAL_PULSE_DIR/runtime/native"
    export PULSE_CLIENTCONFIG="$MIRAL_PULSE_DIR/home/.config/pulse/client.conf"
    export XDG_RUNTIME_DIR="$MIRAL_PULSE_DIR/runtime"
    # Should this shell die without running miral_pulse_stop (killed), a
    # watcher stops the server (whichever was started last) and removes its
    # folder anyway.
    local owner=$$ dir=$MIRAL_PULSE_DIR
    (
        while kill -0 "$owner" 2>/dev/null && [ -d "$dir" ]; do sleep 2; done
        pid="$(cat "$dir/server.pid" 2>/dev/null)"
        [ -n "$pid" ] && kill "$pid" 2>/dev/null && kill -CONT "$pid" 2>/dev/null
        sleep 1
        [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
        rm -rf "$dir"
    ) </dev/null >/dev/null 2>&1 &
    MIRAL_PULSE_WATCH_PID=$!
    if _miral_pulse_launch; then
        export MIRAL_PULSE=1
        echo "miral: private PulseAudio server at $PULSE_SERVER"
        return 0
    fi
    echo "miral: the private PulseAudio server did not start; real audio tests will be skipped"
    tail -20 "$MIRAL_PULSE_DIR/pulse.log" "$MIRAL_PULSE_DIR/pulse.out" 2>/dev/null || true
    unset MIRAL_PULSE PULSE_SERVER
    return 0
}

# Starts the server of $MIRAL_PULSE_DIR and waits (up to 10 s) until it
# answers; its process id goes to $MIRAL_PULSE_DIR/server.pid.
_miral_pulse_launch() {
    # Run in the foreground of a background job so that its process id is ours
    # to stop; no D-Bus session is needed with -n and an explicit script.
    HOME="$MIRAL_PULSE_DIR/home" XDG_CONFIG_HOME="$MIRAL_PULSE_DIR/home/.config" \
        pulseaudio -n --daemonize=no --use-pid-file=no --disallow-exit --exit-idle-time=-1 \
        --log-target=file:"$MIRAL_PULSE_DIR/pulse.log" -F "$MIRAL_PULSE_DIR/default.pa" \
        </dev/null >>"$MIRAL_PULSE_DIR/pulse.out" 2>&1 &
    MIRAL_PULSE_PID=$!
    export MIRAL_PULSE_PID
    echo "$MIRAL_PULSE_PID" > "$MIRAL_PULSE_DIR/server.pid"
    local i
    for i in $(seq 1 100); do
        if pactl info >/dev/null 2>&1; then
            return 0
        fi
        _miral_alive "$MIRAL_PULSE_PID" || return 1
        sleep 0.1
    done
    return 1
}

# True while the process runs (a zombie that nobody reaped yet counts as gone).
_miral_alive() {
    local state
    state="$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" || return 1
    [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

miral_pulse_kill() {
    [ -n "${MIRAL_PULSE_DIR:-}" ] || return 1
    local pid i
    pid="$(cat "$MIRAL_PULSE_DIR/server.pid" 2>/dev/null)" || return 1
    [ -n "$pid" ] || return 1
    kill -9 "$pid" 2>/dev/null || true
    for i in $(seq 1 50); do
        _miral_alive "$pid" || return 0
        sleep 0.1
    done
    return 1
}

miral_pulse_freeze() {
    [ -n "${MIRAL_PULSE_DIR:-}" ] && [ -s "$MIRAL_PULSE_DIR/server.pid" ] || return 1
    kill -STOP "$(cat "$MIRAL_PULSE_DIR/server.pid")"
}

miral_pulse_thaw() {
    [ -n "${MIRAL_PULSE_DIR:-}" ] && [ -s "$MIRAL_PULSE_DIR/server.pid" ] || return 1
    kill -CONT "$(cat "$MIRAL_PULSE_DIR/server.pid")"
}

miral_pulse_restart() {
    [ -n "${MIRAL_PULSE_DIR:-}" ] && [ -d "$MIRAL_PULSE_DIR" ] || return 1
    local pid
    pid="$(cat "$MIRAL_PULSE_DIR/server.pid" 2>/dev/null)"
    if [ -n "$pid" ] && _miral_alive "$pid"; then miral_pulse_kill || return 1; fi
    _miral_pulse_launch
}

miral_pulse_stop() {
    if [ -n "${MIRAL_PULSE_WATCH_PID:-}" ]; then
        kill "$MIRAL_PULSE_WATCH_PID" 2>/dev/null || true
        wait "$MIRAL_PULSE_WATCH_PID" 2>/dev/null || true
        unset MIRAL_PULSE_WATCH_PID
    fi
    # The server started last (a test may have restarted it), else ours.
    local pid="${MIRAL_PULSE_PID:-}"
    if [ -n "${MIRAL_PULSE_DIR:-}" ] && [ -s "$MIRAL_PULSE_DIR/server.pid" ]; then
        pid="$(cat "$MIRAL_PULSE_DIR/server.pid")"
    fi
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null || true
        kill -CONT "$pid" 2>/dev/null || true
        local i
        for i in $(seq 1 50); do
            _miral_alive "$pid" || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    unset MIRAL_PULSE_PID
    if [ -n "${MIRAL_PULSE_DIR:-}" ]; then
        rm -rf "$MIRAL_PULSE_DIR"
        unset MIRAL_PULSE_DIR
    fi
    unset MIRAL_PULSE
}
