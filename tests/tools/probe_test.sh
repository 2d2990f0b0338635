#!/usr/bin/env bash
# Runs tavnv-probe against the stand-in driver libraries and against their absence.
#   probe_test.sh PROBE NO_DRIVER_DIR STANDIN_DIRS(colon-separated) OVERCOUNTING_DIR
set -uo pipefail

probe=$1
none=$2
standins=$3
overcounting=$4
failures=0

expect() {
    local description=$1 expected_status=$2 pattern=$3 libraries=$4
    shift 4
    local output status
    output=$(LD_LIBRARY_PATH=$libraries "$probe" "$@" 2>&1)
    status=$?
    if [ "$status" -ne "$expected_status" ] || ! grep -Eq -- "$pattern" <<<"$output"; then
        echo "FAIL: $description (status $status, expected $expected_status; pattern '$pattern')"
        echo "$output" | sed 's/^/    /'
        failures=$((failures + 1))
    else
        echo "ok: $description"
    fi
}

expect "text report without drivers" 0 \
    'cuda \(libcuda.so\): not usable: dlopen\(\) failed: libcuda.so: cannot open shared object file' "$none"
expect "decoder's loader message without drivers" 0 \
    'cuvid \(libnvcuvid.so.1\): not usable: Failed to open cuvid \(Cannot load libnvcuvid.so.1\)' "$none"
expect "capture without drivers" 0 'nvfbc \(libnvidia-fbc.so.1\): not usable: dlopen\(\) failed' "$none"
expect "JSON without drivers" 0 '"nvenc": \{"file": "libnvidia-encode.so.1", "usable": false, "error": "Failed to open nvenc' \
    "$none" --json
expect "--require fails without drivers" 1 'required library cuda is not usable' "$none" --require cuda
expect "--require rejects unknown names" 2 "unknown library 'opencl'" "$none" --require opencl
expect "-v shows the error records" 0 "Create error in 'dl error domain': dlopen\(\) failed" "$none" -v
expect "--help" 0 'Usage: tavnv-probe' "$none" --help

expect "stand-ins load" 0 'nvfbc \(libnvidia-fbc.so.1\): loads' "$standins"
expect "stand-in driver version" 0 'driver version [0-9]+\.[0-9]+' "$standins"
expect "--require passes with the stand-ins" 0 '"usable": true' "$standins" --json --require cuda,cuvid,nvenc,nvfbc

expect "a count of 4294967295 is capped" 0 'the driver reported 4294967295 items; only the first 64 were asked for' \
    "$overcounting"
expect "the count a listing claims to have written is capped" 0 '^      profiles: H264 main, H264 main$' "$overcounting"
expect "JSON with capped counts" 0 '"inputFormats": \[("NV12", ){63}"NV12"\]' "$overcounting" --json

[ "$failures" -eq 0 ]
