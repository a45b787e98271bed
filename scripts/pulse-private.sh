# Start and stop a private PulseAudio server for the tests. Source it.
# The server runs without D-Bus, keeps its runtime and configuration in a short
# temporary folder and offers one null sink whose monitor the tests record.
miral_pulse_start() {
    if ! command -v pulseaudio >/dev/null 2>&1; then
        echo "miral: pulseaudio not installed; real audio tests will be skipped"
        return 0
    fi
    MIRAL_PULSE_DIR="$(mktemp -d /tmp/mpa.XXXXXX)"
    export MIRAL_PULSE_DIR
    mkdir -p "$MIRAL_PULSE_DIR/runtime" "$MIRAL_PULSE_DIR/home/.config/pulse"
    cat > "$MIRAL_PULSE_DIR/home/.config/pulse/daemon.conf" <<CONF
exit-idle-time = -1
avoid-resampling = yes
default-sample-format = float32le
default-sample-rate = 44100
alternate-sample-rate = 4000
default-sample-channels = 2
flat-volumes = no
CONF
    cat > "$MIRAL_PULSE_DIR/default.pa" <<CONF
load-module module-null-sink sink_name=miral_null sink_properties=device.description=MiralNull norewinds=1
set-default-sink miral_null
set-default-source miral_null.monitor
load-module module-native-protocol-unix auth-anonymous=1
CONF
    export PULSE_RUNTIME_PATH="$MIRAL_PULSE_DIR/runtime"
    export PULSE_STATE_PATH="$MIRAL_PULSE_DIR/runtime"
    export PULSE_SERVER="unix:$MIRAL_PULSE_DIR/runtime/native"
    export XDG_RUNTIME_DIR="$MIRAL_PULSE_DIR/runtime"
    HOME="$MIRAL_PULSE_DIR/home" XDG_CONFIG_HOME="$MIRAL_PULSE_DIR/home/.config" \
        pulseaudio -n --daemonize=yes --use-pid-file=yes --disallow-exit --exit-idle-time=-1 \
        --log-target=file:"$MIRAL_PULSE_DIR/pulse.log" -F "$MIRAL_PULSE_DIR/default.pa" \
        2>>"$MIRAL_PULSE_DIR/pulse.log" || true
    local i
    for i in $(seq 1 50); do
        if pactl info >/dev/null 2>&1; then
            export MIRAL_PULSE=1
            echo "miral: private PulseAudio server at $PULSE_SERVER"
            return 0
        fi
        sleep 0.1
    done
    echo "miral: the private PulseAudio server did not start; see $MIRAL_PULSE_DIR/pulse.log"
    cat "$MIRAL_PULSE_DIR/pulse.log" 2>/dev/null | tail -20 || true
    return 0
}

miral_pulse_stop() {
    if [ -n "${MIRAL_PULSE_DIR:-}" ]; then
        if [ -f "$MIRAL_PULSE_DIR/runtime/pid" ]; then
            kill "$(cat "$MIRAL_PULSE_DIR/runtime/pid")" 2>/dev/null || true
        fi
        pkill -f "$MIRAL_PULSE_DIR" 2>/dev/null || true
        rm -rf "$MIRAL_PULSE_DIR"
    fi
}
