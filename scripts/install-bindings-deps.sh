#!/usr/bin/env bash
# Sees to what the tests of the Python and Node bindings need: Debian's
# python3 when there is no python3 (installed when run as root, otherwise
# named), and the npm packages of bindings/node from its lock file when Node
# is present.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v python3 >/dev/null 2>&1; then
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: python3"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends python3
  else
    echo "Missing Debian package: python3 (sudo apt-get install python3)" >&2
    exit 1
  fi
fi

if command -v node >/dev/null 2>&1; then
  if ! command -v npm >/dev/null 2>&1; then
    echo "Node is present but npm is not; the Node binding's packages cannot be installed" >&2
    exit 1
  fi
  # npm notes what it installed in node_modules/.package-lock.json; a lock
  # file newer than that note means the installed packages are stale.
  if [ ! bindings/node/node_modules/.package-lock.json -nt bindings/node/package-lock.json ]; then
    (cd bindings/node && npm ci --no-audit --no-fund --loglevel=error)
  fi
fi
