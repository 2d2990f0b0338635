#!/usr/bin/env bash
# The examples, on a machine without the driver, report the library's error and exit with status 1.
#   examples_test.sh EXAMPLES_DIR WORK_DIR
set -uo pipefail

examples=$1
work=$2
failures=0
mkdir -p "$work"
: >"$work/empty.h264"

expect() {
    local name=$1 pattern=$2
    shift 2
    local output status
    output=$("$examples/$name" "$@" 2>&1)
    status=$?
    if [ "$status" -ne 1 ] || ! grep -Eq -- "$pattern" <<<"$output"; then
        echo "FAIL: $name (status $status; pattern '$pattern')"
        echo "$output" | sed 's/^/    /'
        failures=$((failures + 1))
    else
        echo "ok: $name: $output"
    fi
}

expect encode_pattern '^deviceGet failed: dlopen\(\) failed: libcuda.so' "$work/out.h264"
expect decode_stream '^loading the decoder failed: Failed to open cuvid' "$work/empty.h264"
expect grab_frame '^createHandle failed: dlopen\(\) failed: libnvidia-fbc.so.1' "$work/out.ppm"

[ "$failures" -eq 0 ]
