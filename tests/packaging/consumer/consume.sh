#!/usr/bin/env bash
# Installs the built library into a fresh prefix, then builds and runs the tiny application against it, once
# through find_package and once through pkg-config.
#   consume.sh BUILD_DIR WORK_DIR [BOOST_INCLUDE_DIR]
# BOOST_INCLUDE_DIR names the headers of a Boost that is not installed, with which the library was built; the
# application is built with them too.
set -euo pipefail

build=$1
work=$2
boost=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
prefix=$work/prefix

rm -rf "$work"
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libTAVNvidia.so' | head -n 1)")

boost_cmake=()
boost_flags=()
if [ -n "$boost" ]; then
    boost_cmake=(-DBoost_NO_BOOST_CMAKE=ON -DBoost_INCLUDE_DIR="$boost")
    boost_flags=(-isystem "$boost")
fi

cmake -S "$here" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" "${boost_cmake[@]}" >/dev/null
cmake --build "$work/cmake" >/dev/null
LD_LIBRARY_PATH=$libdir "$work/cmake/app"

export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
c++ -std=c++17 "${boost_flags[@]}" "$here/app.cpp" -o "$work/app-pkg-config" $(pkg-config --cflags --libs tavnvidia)
LD_LIBRARY_PATH=$libdir "$work/app-pkg-config"
