# SPDX-License-Identifier: GPL-3.0-or-later
# Start and stop a private PipeWire server with its PulseAudio interface
# (pipewire-pulse) and its session manager (wireplumber, which links the
# streams; without it a stream opens and never moves) for the tests. Source it.
#
# Everything runs in a short temporary folder of its own: the runtime folder,
# a private D-Bus session bus (wireplumber wants one), home and state. A null
# sink whose monitor is the default source loops what a test plays back to
# what it records. The variables of the tests' own PulseAudio server
# (PULSE_SERVER ...) are left alone: a test reaches PipeWire by setting
# PULSE_SERVER to MIRAL_PIPEWIRE_SERVER itself.
#
#   miral_pipewire_start  sets MIRAL_PIPEWIRE_SERVER and MIRAL_PIPEWIRE=1 when
#                         the server answers with its null sink; says why and
#                         sets MIRAL_PIPEWIRE_SKIP when it cannot; never fails
#                         the caller
#   miral_pipewire_stop   stops the four processes (by their own process ids)
#                         and removes the folder; safe to call twice
miral_pipewire_start() {
    unset MIRAL_PIPEWIRE MIRAL_PIPEWIRE_SKIP
    local tool
    for tool in pipewire pipewire-pulse wireplumber dbus-daemon pactl; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            MIRAL_PIPEWIRE_SKIP="$tool is not installed"
            export MIRAL_PIPEWIRE_SKIP
            echo "miral: $MIRAL_PIPEWIRE_SKIP; the PipeWire loop will be skipped"
            return 0
        fi
    done
    MIRAL_PIPEWIRE_DIR="$(mktemp -d /tmp/mpw.XXXXXX)"
    export MIRAL_PIPEWIRE_DIR
    local d=$MIRAL_PIPEWIRE_DIR
    mkdir -p -m 700 "$d/runtime" "$d/home"
    # A watcher stops whatever was started, should this shell die without
    # miral_pipewire_stop.
    local owner=$$
    (
        while kill -0 "$owner" 2>/dev/null && [ -d "$d" ]; do sleep 2; done
        for f in pipewire-pulse wireplumber pipewire dbus; do
            [ -s "$d/$f.pid" ] && kill "$(cat "$d/$f.pid")" 2>/dev/null
        done
        sleep 1
        for f in pipewire-pulse wireplumber pipewire dbus; do
            [ -s "$d/$f.pid" ] && kill -9 "$(cat "$d/$f.pid")" 2>/dev/null
        done
        rm -rf "$d"
    ) </dev/null >/dev/null 2>&1 &
    MIRAL_PIPEWIRE_WATCH_PID=$!
    dbus-daemon --session --nofork --nopidfile --address="unix:path=$d/bus" </dev/null >"$d/dbus.log" 2>&1 &
    echo $! > "$d/dbus.pid"
    local i
    for i in $(seq 1 50); do [ -S "$d/bus" ] && break; sleep 0.1; done
    local env=(env -u PULSE_SERVER -u PULSE_RUNTIME_PATH -u PULSE_STATE_PATH -u PULSE_CLIENTCONFIG -u DISPLAY
               HOME="$d/home" XDG_RUNTIME_DIR="$d/runtime" XDG_CONFIG_HOME="$d/home/.config"
               XDG_STATE_HOME="$d/home/.state" XDG_DATA_HOME="$d/home/.local/share"
               DBUS_SESSION_BUS_ADDRESS="unix:path=$d/bus" PIPEWIRE_RUNTIME_DIR="$d/runtime")
    "${env[@]}" pipewire </dev/null >"$d/pipewire.log" 2>&1 &
    echo $! > "$d/pipewire.pid"
    for i in $(seq 1 50); do [ -S "$d/runtime/pipewire-0" ] && break; sleep 0.1; done
    "${env[@]}" wireplumber </dev/null >"$d/wireplumber.log" 2>&1 &
    echo $! > "$d/wireplumber.pid"
    "${env[@]}" pipewire-pulse </dev/null >"$d/pipewire-pulse.log" 2>&1 &
    echo $! > "$d/pipewire-pulse.pid"
    MIRAL_PIPEWIRE_SERVER="unix:$d/runtime/pulse/native"
    export MIRAL_PIPEWIRE_SERVER
    local answered=0
    for i in $(seq 1 200); do
        if PULSE_SERVER="$MIRAL_PIPEWIRE_SERVER" pactl info >/dev/null 2>&1; then answered=1; break; fi
        sleep 0.1
    done
    # The null sink, and the defaults once the session manager knows it (on a
    # busy machine that may take a moment).
    local sink=0
    if [ "$answered" = 1 ] &&
        PULSE_SERVER="$MIRAL_PIPEWIRE_SERVER" pactl load-module module-null-sink sink_name=miral_null \
            sink_properties=device.description=MiralNull >/dev/null 2>&1; then
        for i in $(seq 1 50); do
            if PULSE_SERVER="$MIRAL_PIPEWIRE_SERVER" pactl set-default-sink miral_null >/dev/null 2>&1 &&
                PULSE_SERVER="$MIRAL_PIPEWIRE_SERVER" pactl set-default-source miral_null.monitor >/dev/null 2>&1; then
                sink=1
                break
            fi
            sleep 0.2
        done
    fi
    if [ "$sink" = 1 ]; then
        export MIRAL_PIPEWIRE=1
        echo "miral: private PipeWire server at $MIRAL_PIPEWIRE_SERVER"
        return 0
    fi
    MIRAL_PIPEWIRE_SKIP="the private PipeWire server did not start: $(tail -2 "$d/pipewire.log" "$d/pipewire-pulse.log" 2>/dev/null | tr '\n' ' ')"
    export MIRAL_PIPEWIRE_SKIP
    echo "miral: $MIRAL_PIPEWIRE_SKIP; the PipeWire loop will be skipped"
    return 0
}

miral_pipewire_stop() {
    if [ -n "${MIRAL_PIPEWIRE_WATCH_PID:-}" ]; then
        kill "$MIRAL_PIPEWIRE_WATCH_PID" 2>/dev/null || true
        wait "$MIRAL_PIPEWIRE_WATCH_PID" 2>/dev/null || true
        unset MIRAL_PIPEWIRE_WATCH_PID
    fi
    local d="${MIRAL_PIPEWIRE_DIR:-}" f pid i
    if [ -n "$d" ]; then
        for f in pipewire-pulse wireplumber pipewire dbus; do
            [ -s "$d/$f.pid" ] || continue
            pid="$(cat "$d/$f.pid")"
            kill "$pid" 2>/dev/null || true
            for i in $(seq 1 30); do
                kill -0 "$pid" 2>/dev/null || break
                sleep 0.1
            done
            kill -9 "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
        done
        rm -rf "$d"
    fi
    unset MIRAL_PIPEWIRE MIRAL_PIPEWIRE_DIR MIRAL_PIPEWIRE_SERVER
}
