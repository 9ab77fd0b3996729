#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer on)
# and runs each for SECONDS (default 20), seeded from the test fixtures. Prints the executions
# of each; fails on the first crash, leak or hang. Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_adb_framing fuzz_device_list fuzz_device_output
                                     fuzz_sim_decoder fuzz_device_value fuzz_ios_values)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DDEVICE_INFO_TESTS=OFF -DDEVICE_INFO_FUZZ=ON -DDEVICE_INFO_SANITIZE=address,undefined \
    >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}" >/dev/null

seeds=build-fuzz/seeds
rm -rf "$seeds"
mkdir -p "$seeds"/{fuzz_adb_framing,fuzz_device_list,fuzz_device_output,fuzz_sim_decoder,fuzz_device_value,fuzz_ios_values}
printf 'OKAY0015emulator-5554\tdevice\n0000' >"$seeds/fuzz_adb_framing/okay"
printf 'FAIL001adevice '"'"'nothere'"'"' not found' >"$seeds/fuzz_adb_framing/fail"
printf 'tcp:[::1]:5037' >"$seeds/fuzz_adb_framing/spec"
cp tests/fixtures/devices_l.txt "$seeds/fuzz_device_list/"
i=0
for f in tests/fixtures/*; do
    # The first byte picks the parser; give every fixture to every parser.
    for p in 0 1 2 3 4 5 6 7 8 9; do
        { printf "\\x3$p"; cat "$f"; } >"$seeds/fuzz_device_output/$i-$p"
    done
    i=$((i + 1))
done
printf 'settings get global device_name 2>/dev/null; echo ::; getprop ro.product.model' \
    >"$seeds/fuzz_sim_decoder/command"
printf 'CNXN\x01\x00\x00\x01\x00\x10\x00\x00\x06\x00\x00\x00\xa6\x01\x00\x00\xbc\xb1\xa7\xb1host::' \
    >"$seeds/fuzz_sim_decoder/cnxn"
for v in 0 29 3599 5400 4294967295 -1 2147486400 " 42 " 1e3 abc; do
    printf '%s' "$v" >"$seeds/fuzz_device_value/$v"
done

# Each domain of the simulated iPhones, as lockdownd would send it.
for f in tools/device_sim/profiles/*iphone*.json tools/device_sim/profiles/ipad*.json; do
    python3 - "$f" "$seeds/fuzz_ios_values/$(basename "$f" .json)" <<'PY'
import json, plistlib, sys
profile = json.load(open(sys.argv[1]))
for i, (name, values) in enumerate(profile["domains"].items()):
    values = {k: v for k, v in values.items() if not str(v).startswith("data:")}
    open(f"{sys.argv[2]}-{i}.xml", "wb").write(plistlib.dumps(values))
    open(f"{sys.argv[2]}-{i}.bin", "wb").write(plistlib.dumps(values, fmt=plistlib.FMT_BINARY))
PY
done

status=0
for target in "${targets[@]}"; do
    corpus="build-fuzz/corpus/$target"
    mkdir -p "$corpus"
    log="build-fuzz/$target.log"
    if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1 \
        "build-fuzz/tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="build-fuzz/$target-" \
        "$corpus" "$seeds/$target" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "$target: $runs executions in ${seconds} s, clean"
    else
        echo "$target: FAILED (see $log)"
        tail -30 "$log"
        status=1
    fi
done
exit $status
