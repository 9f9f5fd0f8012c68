# start_pulse RUNTIME_DIR: a private PulseAudio daemon with two null sinks,
# "mic" (its monitor is the default source) and "spk" (the default sink), plus
# one low-latency recorder on each monitor so that capture starts at once.
# Appends every PID it starts to the caller's PIDS array. Source it.
start_pulse() {
    local dir=$1
    export XDG_RUNTIME_DIR=$dir
    export HOME=$dir/home
    mkdir -p "$HOME" "$dir/pulse"
    export PULSE_SERVER=unix:$dir/pulse/native
    cat > "$dir/default.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/pulse/native
load-module module-null-sink sink_name=spk
load-module module-null-sink sink_name=mic
set-default-sink spk
set-default-source mic.monitor
PA
    # Real-time, as its I/O threads make themselves, where the system allows it:
    # its main thread passes each playback stream's request for data on to the
    # client, and on a loaded machine it otherwise waits 100 ms and more for a
    # CPU while the null sink's clock runs on and plays silence in the gap.
    local rt=()
    chrt -r 5 true 2>/dev/null && rt=(chrt -r 5)
    "${rt[@]}" pulseaudio -n -F "$dir/default.pa" --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
        --log-target=file:"$dir/pulse.log" &
    PIDS+=($!)
    local i
    for i in $(seq 1 100); do
        pactl info >/dev/null 2>&1 && break
        sleep 0.1
    done
    pactl info >/dev/null 2>&1 || { echo "PulseAudio did not start:"; cat "$dir/pulse.log"; return 1; }
    parec -d mic.monitor --latency-msec=10 > /dev/null &
    PIDS+=($!)
    parec -d spk.monitor --latency-msec=10 > /dev/null &
    PIDS+=($!)
    sleep 2
}
