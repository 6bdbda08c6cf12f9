#!/usr/bin/env bash
# Runs each fuzzer for a bounded time: fuzz/run.sh BUILD_DIR SECONDS FUZZER...
# As many fuzzers run at once as there are cores (FUZZ_PARALLEL overrides).
# The seed corpus fuzz/corpus/<fuzzer>/ is read only; what a run adds goes to
# BUILD_DIR/corpus/<fuzzer>/. A crash fails the run: its input is left in
# BUILD_DIR/artifacts/ and becomes a regression file by moving it into
# fuzz/corpus/<fuzzer>/ together with the fix.
set -uo pipefail
cd "$(dirname "$0")/.."
build="$1"
seconds="$2"
shift 2
parallel="${FUZZ_PARALLEL:-$(nproc)}"

run_one() {
  local fuzzer="$1"
  local bin="$build/fuzz/$fuzzer"
  local seeds="fuzz/corpus/$fuzzer"
  local work="$build/corpus/$fuzzer"
  local artifacts="$build/artifacts"
  local log="$build/$fuzzer.log"
  mkdir -p "$work" "$artifacts"
  local extra=()
  [ -f "fuzz/$fuzzer.dict" ] && extra+=(-dict="fuzz/$fuzzer.dict")
  # fuzz/<fuzzer>.options: more flags, one a line, "#" starts a comment.
  [ -f "fuzz/$fuzzer.options" ] && extra+=($(grep -v '^#' "fuzz/$fuzzer.options"))
  # -timeout: an input taking 10 s is a hang; -rss_limit_mb: the default 2 GB
  # with a margin for ASan's quarantine.
  "$bin" "$work" "$seeds" "${extra[@]}" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=3072 -max_len=8192 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$fuzzer-" >"$log" 2>&1
  echo $? >"$build/$fuzzer.rc"
}

fuzzers=("$@")
for ((i = 0; i < ${#fuzzers[@]}; i += parallel)); do
  for fuzzer in "${fuzzers[@]:i:parallel}"; do
    echo "== $fuzzer for ${seconds}s"
    run_one "$fuzzer" &
  done
  wait
done

status=0
summary=()
for fuzzer in "${fuzzers[@]}"; do
  log="$build/$fuzzer.log"
  rc=$(cat "$build/$fuzzer.rc")
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -1)
  corpus=$(find "$build/corpus/$fuzzer" "fuzz/corpus/$fuzzer" -type f | wc -l)
  if [ "$rc" -ne 0 ]; then
    status=1
    echo "$fuzzer FAILED (exit $rc); the end of $log:"
    tail -40 "$log"
    ls -l "$build/artifacts" | grep -- "$fuzzer-" || true
  fi
  summary+=("$(printf '%-22s %12s %8s %10s %s' "$fuzzer" "${execs:-?}" "$corpus" "${rss:-?}" \
               "$([ "$rc" -eq 0 ] && echo ok || echo CRASH)")")
done
printf '%-22s %12s %8s %10s %s\n' fuzzer executions corpus peak_MiB result
printf '%s\n' "${summary[@]}"
failed=$(grep -c CRASH <<<"$(printf '%s\n' "${summary[@]}")")
echo "fuzz: $((${#fuzzers[@]} - failed)) passed, $failed failed"
exit $status
