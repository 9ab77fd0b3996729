# Sourced by the demo and screenshot scripts: a private adb server and a simulated device,
# both stopped when the calling script exits.
#   private_adb_start PROFILE    sets ADB_SERVER_SOCKET for the app and SIM_SERIAL

private_adb_stop() {
    [ -n "${SIM_PID:-}" ] && kill "$SIM_PID" 2>/dev/null || true
    [ -n "${ADB_PORT:-}" ] && HOME="$ADB_HOME" adb -P "$ADB_PORT" kill-server 2>/dev/null || true
    [ -n "${ADB_HOME:-}" ] && rm -rf "$ADB_HOME"
}

private_adb_start() {
    local profile="$1"
    ADB_HOME=$(mktemp -d)
    trap private_adb_stop EXIT
    # A port of its own, away from the default 5037 and the emulator range 5555 to 5585.
    ADB_PORT=$((20000 + RANDOM % 20000))
    HOME="$ADB_HOME" adb -P "$ADB_PORT" start-server >/dev/null 2>&1

    build/device-sim "tools/device_sim/profiles/$profile.json" >"$ADB_HOME/sim.out" </dev/null &
    SIM_PID=$!
    local sim_port=""
    for _ in $(seq 50); do
        sim_port=$(sed -n 's/^listening on //p' "$ADB_HOME/sim.out")
        [ -n "$sim_port" ] && break
        sleep 0.1
    done
    [ -n "$sim_port" ] || { echo "the device simulator did not start" >&2; return 1; }
    SIM_SERIAL="127.0.0.1:$sim_port"
    HOME="$ADB_HOME" adb -P "$ADB_PORT" connect "$SIM_SERIAL" >/dev/null
    export ADB_SERVER_SOCKET="tcp:127.0.0.1:$ADB_PORT"
}
