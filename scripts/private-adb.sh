# Sourced by the demo and screenshot scripts: a private adb server and simulated devices, all
# stopped when the calling script exits.
#   private_adb_start [PROFILE]  starts the server (and a device); sets ADB_SERVER_SOCKET
#   private_device PROFILE       starts a simulated device: an Android one is connected to the
#                                server (SIM_SERIAL); an iPhone one is usbmuxd with the device
#                                behind it (USBMUXD_SOCKET_ADDRESS)
#   private_peripherals          a simulated UPower with a headset, a mouse and a UPS on a bus of
#                                its own (DBUS_SYSTEM_BUS_ADDRESS)

SIM_PIDS=()

private_adb_stop() {
    for pid in "${SIM_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    [ -n "${ADB_PORT:-}" ] && HOME="$ADB_HOME" adb -P "$ADB_PORT" kill-server 2>/dev/null || true
    [ -n "${ADB_HOME:-}" ] && rm -rf "$ADB_HOME"
}

private_adb_start() {
    ADB_HOME=$(mktemp -d)
    trap private_adb_stop EXIT
    # A port of its own, away from the default 5037 and the emulator range 5555 to 5585.
    ADB_PORT=$((20000 + RANDOM % 20000))
    HOME="$ADB_HOME" adb -P "$ADB_PORT" start-server >/dev/null 2>&1
    export ADB_SERVER_SOCKET="tcp:127.0.0.1:$ADB_PORT"
    [ $# -eq 0 ] || private_device "$1"
}

# What follows PREFIX on a line of FILE, once one is there (within 10 s); empty where none is.
said_in() {
    local said=""
    for _ in $(seq 100); do
        said=$(sed -n "s/^$2//p" "$1")
        [ -n "$said" ] && break
        sleep 0.1
    done
    echo "$said"
}

private_device() {
    local profile="tools/device_sim/profiles/$1.json" out="$ADB_HOME/sim-$1.out"
    build/device-sim "$profile" >"$out" </dev/null &
    SIM_PIDS+=($!)
    local sim_port
    sim_port=$(said_in "$out" "listening on ")
    [ -n "$sim_port" ] || { echo "the device simulator did not start" >&2; return 1; }
    if grep -q '"udid"' "$profile"; then
        export USBMUXD_SOCKET_ADDRESS="127.0.0.1:$sim_port"
    else
        SIM_SERIAL="127.0.0.1:$sim_port"
        HOME="$ADB_HOME" adb -P "$ADB_PORT" connect "$SIM_SERIAL" >/dev/null
    fi
}

private_peripherals() {
    local out="$ADB_HOME/peripherals.out"
    /usr/bin/python3 tools/device_sim/peripherals.py >"$out" &
    SIM_PIDS+=($!)
    local address
    address=$(said_in "$out" "DBUS_SYSTEM_BUS_ADDRESS=")
    [ -n "$address" ] || { echo "the simulated UPower did not start" >&2; return 1; }
    export DBUS_SYSTEM_BUS_ADDRESS="$address"
}
