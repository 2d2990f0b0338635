#!/usr/bin/env bash
# The capture example, given a frame whose buffer is missing or too short for it, says so and exits with status 1
# without writing the file.
#   grab_frame_test.sh GRAB_FRAME OUTPUT EXPECTED_LINE
set -uo pipefail

example=$1
file=$2
expected=$3
rm -f "$file"
output=$("$example" "$file" 2>&1)
status=$?
echo "$output"
if [ "$status" -ne 1 ] || ! grep -Fxq -- "$expected" <<<"$output"; then
    echo "FAIL: status $status, expected the line '$expected'"
    exit 1
fi
if [ -e "$file" ]; then
    echo "FAIL: $file was written"
    exit 1
fi
