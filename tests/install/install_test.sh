#!/usr/bin/env bash
# Installs the build tree into a temporary prefix, moves the prefix
# elsewhere (an installed tree must not depend on where it was first put),
# and builds and runs a small C consumer against it twice, the ways the
# README shows: its ```sh consumer block (pkg-config) and its ```cmake
# consumer block (find_package(quorvel)).
#
#   install_test.sh README BUILD_DIR C_COMPILER VERSION
set -euo pipefail
readme=$1
build_dir=$2
cc=$3
version=$4
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

# The README's consumer blocks, applied to app.c.
block() { awk -v tag="$1" '$0 == tag { on = 1; next } on && /^```/ { exit } on' "$readme"; }
mkdir -p "$tmp/pc" "$tmp/cm"
cp "$here/consumer.c" "$tmp/pc/app.c"
cp "$here/consumer.c" "$tmp/cm/app.c"
block '```sh consumer' >"$tmp/pc/build.sh"
block '```cmake consumer' >"$tmp/cm/CMakeLists.txt"
[ -s "$tmp/pc/build.sh" ] && [ -s "$tmp/cm/CMakeLists.txt" ] || fail "no consumer blocks in $readme"

# pkg-config
export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(pkg-config --modversion quorvel)" = "$version" ] || fail "pkg-config version"
(cd "$tmp/pc" && bash -e build.sh) || fail "the pkg-config build"
LD_LIBRARY_PATH=$libdir "$tmp/pc/app"

# find_package
grep -q "set(PACKAGE_VERSION \"$version\")" "$libdir/cmake/quorvel/quorvelConfigVersion.cmake" ||
  fail "package version"
cmake -S "$tmp/cm" -B "$tmp/cm/build" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$cc" \
  >"$tmp/configure.log" || { cat "$tmp/configure.log"; fail "find_package(quorvel)"; }
cmake --build "$tmp/cm/build" >"$tmp/build.log" || { cat "$tmp/build.log"; fail "build"; }
"$tmp/cm/build/app"
