#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when run as root
# and something is missing. Otherwise it only names what is missing.
# With the argument "fuzz" it sees to the fuzzing toolchain instead: clang
# and its libFuzzer and sanitizer runtimes.
set -euo pipefail

if [ "${1:-}" = "fuzz" ]; then
  packages=(clang-14 libclang-rt-14-dev)
else
  packages=(build-essential cmake pkg-config binutils libre2-dev libssl-dev
            libgtest-dev libgmock-dev libbenchmark-dev valgrind)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "Missing Debian packages: ${missing[*]}" >&2
  echo "Install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
