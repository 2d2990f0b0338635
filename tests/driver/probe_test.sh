#!/usr/bin/env bash
# Runs tavnv-probe against one branch of NVIDIA's real libraries on a machine without a GPU, which run-case put
# first on the loader's search path and named in TAV_DRIVER_BRANCH and TAV_DRIVER_RELEASE.
#   probe_test.sh PROBE HOLD_DRIVER
# The second is the library that keeps the driver libraries' own allocations reachable (see hold_driver.cpp),
# preloaded after the sanitizer runtimes it links, which must come first.
set -uo pipefail

probe=$1
runtimes=$(ldd "$2" | awk '$1 ~ /^lib(asan|ubsan)\.so/ { printf "%s:", $3 }')
preload=$runtimes$2${LD_PRELOAD:+:$LD_PRELOAD}
failures=0

# What each branch answers (see branches.cpp for the cases'): cuInit's message, cuDriverGetVersion's, the
# decoder's and the encoder's load, the encoder's highest API, and the capture library's refusal.
no_device='CUDA failed: no CUDA-capable device is detected'
no_decoder='not usable: Failed to open cuvid \(Cannot load cuvidGetDecodeStatus\)'
old_capture='NvFBC failed: The API versions of the client and the library are not compatible - Failed to create NvFBC instance'
no_display='NvFBC failed: X error - Unable to open display'
no_vulkan="NvFBC failed: Unknown \(status 17\) - Unable to load Vulkan loader 'libvulkan.so.1' and ICD 'libGLX_nvidia.so.0'"
case $TAV_DRIVER_BRANCH in
340) cuda=$no_device version=6.5 cuvid=$no_decoder
     nvenc='not usable: Failed to open nvenc \(Cannot load NvEncodeAPIGetMaxSupportedVersion\)' api= nvfbc=$old_capture ;;
390) cuda='CUDA failed: unknown error' version=9.1 cuvid=$no_decoder nvenc=loads api=8.1 nvfbc=$old_capture ;;
418) cuda=$no_device version=10.1 cuvid=loads nvenc=loads api=9.0 nvfbc=$no_display ;;
470) cuda=$no_device version=11.4 cuvid=loads nvenc=loads api=11.1 nvfbc=$no_display ;;
525) cuda=$no_device version=12.0 cuvid=loads nvenc=loads api=12.0 nvfbc=$no_vulkan ;;
535) cuda=$no_device version=12.2 cuvid=loads nvenc=loads api=12.1 nvfbc=$no_vulkan ;;
550) cuda=$no_device version=12.4 cuvid=loads nvenc=loads api=12.2 nvfbc=$no_vulkan ;;
555) cuda=$no_device version=12.5 cuvid=loads nvenc=loads api=12.2 nvfbc=$no_display ;;
*) echo "FAIL: no expected answers for driver branch '$TAV_DRIVER_BRANCH'"; exit 1 ;;
esac
release=${TAV_DRIVER_RELEASE//./\\.}

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

expect "CUDA finds no device" "^cuda \(libcuda.so\): not usable: $cuda\$"
expect "the driver's version" "^  driver version ${version//./\\.}\$"
expect "the driver's release" "^  driver release $release\$"
if [ "$cuvid" = loads ]; then
    expect "the decoder loads" '^cuvid \(libnvcuvid.so.1\): loads$'
else
    expect "the decoder does not load" "^cuvid \(libnvcuvid.so.1\): $cuvid\$"
fi
expect "the encoder" "^nvenc \(libnvidia-encode.so.1\): $nvenc\$"
if [ -n "$api" ]; then
    expect "the encoder's highest API" "^  highest supported API version ${api//./\\.}\$"
fi
expect "capture's refusal, with the library's text" "^nvfbc \(libnvidia-fbc.so.1\): not usable: $nvfbc\$"
expect "JSON: CUDA" "\"cuda\": \{\"file\": \"libcuda.so\", \"usable\": false, \"error\": \"$cuda\", \"driverVersion\": [0-9]+, \"driverRelease\": \"$release\"" --json
if [ -n "$api" ]; then
    expect "JSON: the encoder" "\"nvenc\": \{\"file\": \"libnvidia-encode.so.1\", \"usable\": true, \"maxApiVersion\": \"${api//./\\.}\"" --json
fi
expect "JSON: capture" "\"nvfbc\": \{\"file\": \"libnvidia-fbc.so.1\", \"usable\": false, \"error\": \"$nvfbc\"" --json

[ "$failures" -eq 0 ]
