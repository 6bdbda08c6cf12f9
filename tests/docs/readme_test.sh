#!/usr/bin/env bash
# Checks every example of the README. Fenced blocks are told apart by the
# words after their language:
#   ```json policy [file=NAME]   quorvel check must accept it
#   ```json rejected-policy [file=NAME]
#                                quorvel check must reject it
#   ```json payload [file=NAME]  quorvel encode must take it (one JSON value)
#   ```c tour                    compiled as C99 against the build and run
#                                from the source root; its standard output
#                                must equal the next ```text output block
#   ```console                   run as one bash script in a scratch folder
#                                that holds examples/ and every file=NAME
#                                block; the lines that do not start with "$ "
#                                must equal what the commands print
#   ```sh consumer / ```cmake consumer
#                                built by the install test
# A json or c block without one of these words fails the test, so that no
# example goes unchecked. The three random digits of token signatures
# compare as NNN.
#
#   readme_test.sh README TOOL C_COMPILER INCLUDE_DIR LIBRARY_DIR [C_FLAGS]
#
# C_FLAGS are those a sanitizer build needs in every program it links.
set -uo pipefail
readme=$1
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
tool=$(absolute "$2")
cc=$3
include_dir=$(absolute "$4")
library_dir=$(absolute "$5")
c_flags=${6:-}
root=$(cd "$(dirname "$readme")" && pwd)

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
scratch=$tmp/scratch
mkdir -p "$scratch" "$tmp/blocks"
ln -s "$root/examples" "$scratch/examples"
export PATH="$(dirname "$tool"):$PATH"
# The key of the hash strategy in the README's examples.
export QUORVEL_HASH_KEY=readme-example-key
failures=0
fail() {
  echo "FAIL (README line $1): $2" >&2
  failures=$((failures + 1))
}
scrub() { sed -E 's/-[0-9]{3}>/-NNN>/g; s/where [0-9]{3} is/where NNN is/g'; }

# Split the README into numbered blocks: blocks/N.info holds the line number
# and the info string, blocks/N.body the content.
awk -v dir="$tmp/blocks" '
  /^```/ {
    if (inside) { inside = 0; close(body); next }
    inside = 1; n++
    info = substr($0, 4)
    body = sprintf("%s/%03d.body", dir, n)
    printf "%d %s\n", NR, info > sprintf("%s/%03d.info", dir, n)
    close(sprintf("%s/%03d.info", dir, n))
    printf "" > body
    next
  }
  inside { print > body }
' "$readme"

# First pass: files that console blocks use.
for info in "$tmp"/blocks/*.info; do
  read -r line lang tags < "$info"
  for tag in $tags; do
    case $tag in file=*) cp "${info%.info}.body" "$scratch/${tag#file=}" ;; esac
  done
done

checked=0
tour_output=""
for info in "$tmp"/blocks/*.info; do
  body=${info%.info}.body
  read -r line lang tags < "$info"
  case "$lang $tags" in
    json\ policy*)
      if ! out=$("$tool" check --policy "$body" 2>&1); then
        fail "$line" "quorvel check rejects the policy:"$'\n'"$out"
      fi
      ;;
    json\ rejected-policy*)
      "$tool" check --policy "$body" >/dev/null 2>&1
      status=$?
      [ "$status" -eq 1 ] || fail "$line" "quorvel check exits with $status, not 1"
      ;;
    json\ payload*)
      if ! out=$("$tool" encode --policy "$root/examples/support_policy.json" "$body" 2>&1); then
        fail "$line" "not a payload: $out"
      fi
      ;;
    json*)
      fail "$line" "a json block must be tagged policy or payload"
      ;;
    c\ tour*)
      cp "$body" "$tmp/tour.c"
      # shellcheck disable=SC2086
      if ! "$cc" -std=c99 -Wall -Wextra -Werror $c_flags -I"$include_dir" "$tmp/tour.c" -o "$tmp/tour" \
           -L"$library_dir" -lquorvel_ffi -Wl,-rpath,"$library_dir" 2>"$tmp/cc.log"; then
        fail "$line" "the tour does not compile:"$'\n'"$(cat "$tmp/cc.log")"
        continue
      fi
      tour_output=$(cd "$root" && "$tmp/tour" 2>&1) || fail "$line" "the tour failed"
      tour_line=$line
      ;;
    c\ *)
      fail "$line" "a c block must be tagged tour"
      ;;
    text\ output*)
      if [ -z "${tour_line:-}" ]; then
        fail "$line" "an output block without a tour before it"
      elif [ "$tour_output" != "$(cat "$body")" ]; then
        fail "$line" "the tour of line $tour_line prints"$'\n'"$tour_output"
      fi
      tour_line=""
      ;;
    console*)
      script=$tmp/console.sh
      grep '^\$ ' "$body" | sed 's/^\$ //' > "$script"
      expected=$(grep -v '^\$ ' "$body" | scrub)
      actual=$(cd "$scratch" && bash "$script" 2>&1 | scrub)
      if [ "$actual" != "$expected" ]; then
        fail "$line" "the commands print"$'\n'"$actual"$'\n'"--- the README says"$'\n'"$expected"
      fi
      ;;
    *) continue ;;
  esac
  checked=$((checked + 1))
done

echo "$checked examples checked, $failures failed"
[ "$failures" -eq 0 ] && [ "$checked" -gt 0 ]
