#!/usr/bin/env bash
# Installs the build tree into a temporary prefix, moves the prefix
# elsewhere (an installed tree must not depend on where it was first put),
# and builds and runs a small C consumer against it twice: through
# pkg-config and through find_package(quorvel).
#
#   install_test.sh BUILD_DIR C_COMPILER VERSION
set -euo pipefail
build_dir=$1
cc=$2
version=$3
here=$(cd "$(dirname "$0")" && pwd)

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cmake --install "$build_dir" --prefix "$tmp/staged" >"$tmp/install.log"
mv "$tmp/staged" "$tmp/prefix"
prefix=$tmp/prefix

fail() { echo "FAIL: $*" >&2; exit 1; }

# The library, its SONAME links and the tool.
lib=$(find "$prefix" -name "libquorvel_ffi.so.$version" -type f)
[ -n "$lib" ] || fail "libquorvel_ffi.so.$version not installed"
libdir=$(dirname "$lib")
major=${version%%.*}
[ "$(readlink "$libdir/libquorvel_ffi.so.$major")" = "libquorvel_ffi.so.$version" ] ||
  fail "libquorvel_ffi.so.$major does not point to libquorvel_ffi.so.$version"
[ "$(readlink "$libdir/libquorvel_ffi.so")" = "libquorvel_ffi.so.$major" ] ||
  fail "libquorvel_ffi.so does not point to libquorvel_ffi.so.$major"
readelf -d "$lib" | grep -q "SONAME.*\[libquorvel_ffi.so.$major\]" || fail "wrong SONAME"
[ -f "$prefix/include/quorvel/quorvel.h" ] || fail "header not installed"
"$prefix/bin/quorvel" --version | grep -qx "quorvel $version" || fail "installed tool"

# pkg-config
export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(pkg-config --modversion quorvel)" = "$version" ] || fail "pkg-config version"
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Wextra -Werror "$here/consumer/consumer.c" -o "$tmp/consumer_pc" \
  $(pkg-config --cflags --libs quorvel) -Wl,-rpath,"$(pkg-config --variable=libdir quorvel)"
"$tmp/consumer_pc"

# find_package
cmake -S "$here/consumer" -B "$tmp/consumer_build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DQUORVEL_EXPECTED_VERSION="$version" >"$tmp/configure.log" ||
  { cat "$tmp/configure.log"; fail "find_package(quorvel)"; }
cmake --build "$tmp/consumer_build" >"$tmp/build.log" || { cat "$tmp/build.log"; fail "build"; }
"$tmp/consumer_build/consumer"
