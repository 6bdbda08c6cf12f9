#!/usr/bin/env bash
# Fails unless the shared object defines exactly the twelve exports.
set -euo pipefail
lib="$1"
expected="quorvel_config_active
quorvel_config_clone
quorvel_config_default
quorvel_config_drop
quorvel_config_from_json
quorvel_config_policy_name
quorvel_config_policy_version
quorvel_decode
quorvel_encode
quorvel_enforcer_create
quorvel_enforcer_drop
quorvel_free"
actual=$(nm -D --defined-only "$lib" | awk '{print $NF}' | sort)
if [ "$actual" != "$expected" ]; then
  echo "exported symbols differ from the twelve exports:"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
echo "exactly the twelve exports are defined"
