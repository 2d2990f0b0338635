#!/usr/bin/env bash
# Installs the built library into a fresh prefix, then builds and runs the tiny application against it, once
# through find_package and once through pkg-config.
#   consume.sh BUILD_DIR WORK_DIR
set -euo pipefail

build=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
prefix=$work/prefix

rm -rf "$work"
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libTAVNvidia.so' | head -n 1)")

cmake -S "$here" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
LD_LIBRARY_PATH=$libdir "$work/cmake/app"

export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
c++ -std=c++17 "$here/app.cpp" -o "$work/app-pkg-config" $(pkg-config --cflags --libs tavnvidia)
LD_LIBRARY_PATH=$libdir "$work/app-pkg-config"
