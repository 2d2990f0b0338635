#!/usr/bin/env bash
# Runs tavnv-probe against NVIDIA's real libraries on a machine without a GPU, which run-case put first on the
# loader's search path.
#   probe_test.sh PROBE HOLD_LIBCUDA
# The second is the library that keeps libcuda's own allocations reachable (see hold_libcuda.cpp), preloaded
# after the sanitizer runtimes it links, which must come first.
set -uo pipefail

probe=$1
runtimes=$(ldd "$2" | awk '$1 ~ /^lib(asan|ubsan)\.so/ { printf "%s:", $3 }')
preload=$runtimes$2${LD_PRELOAD:+:$LD_PRELOAD}
failures=0

expect() {
    local description=$1 pattern=$2
    shift 2
    local output status
    output=$(LD_PRELOAD=$preload "$probe" "$@" 2>&1)
    status=$?
    if [ "$status" -ne 0 ] || ! grep -Eq -- "$pattern" <<<"$output"; then
        echo "FAIL: $description (status $status; pattern '$pattern')"
        echo "$output" | sed 's/^/    /'
        failures=$((failures + 1))
    else
        echo "ok: $description"
    fi
}

expect "CUDA finds no device" '^cuda \(libcuda.so\): not usable: CUDA failed: no CUDA-capable device is detected$'
expect "the decoder loads" '^cuvid \(libnvcuvid.so.1\): loads$'
expect "the encoder loads" '^nvenc \(libnvidia-encode.so.1\): loads$'
expect "the encoder's highest API" '^  highest supported API version 12\.1$'
expect "capture's newer status by number, with the library's text" \
    '^nvfbc \(libnvidia-fbc.so.1\): not usable: NvFBC failed: Unknown \(status 17\) - .+'
expect "JSON: CUDA" '"cuda": \{"file": "libcuda.so", "usable": false, "error": "CUDA failed: no CUDA-capable device' --json
expect "JSON: the encoder" '"nvenc": \{"file": "libnvidia-encode.so.1", "usable": true, "maxApiVersion": "12\.1"' --json
expect "JSON: capture" '"nvfbc": \{"file": "libnvidia-fbc.so.1", "usable": false, "error": "NvFBC failed: Unknown \(status 17\) - .+"' --json

[ "$failures" -eq 0 ]
