#!/usr/bin/env bash
# Runs each fuzzer for a bounded time: fuzz/run.sh BUILD_DIR SECONDS FUZZER...
# The seed corpus fuzz/corpus/<fuzzer>/ is read only; what a run adds goes to
# BUILD_DIR/corpus/<fuzzer>/. A crash stops the run: its input is left in
# BUILD_DIR/artifacts/ and becomes a regression file by moving it into
# fuzz/corpus/<fuzzer>/ together with the fix.
set -uo pipefail
cd "$(dirname "$0")/.."
build="$1"
seconds="$2"
shift 2

summary=()
status=0
for fuzzer in "$@"; do
  bin="$build/fuzz/$fuzzer"
  seeds="fuzz/corpus/$fuzzer"
  work="$build/corpus/$fuzzer"
  artifacts="$build/artifacts"
  log="$build/$fuzzer.log"
  mkdir -p "$work" "$artifacts"
  extra=()
  [ -f "fuzz/$fuzzer.dict" ] && extra+=(-dict="fuzz/$fuzzer.dict")
  # fuzz/<fuzzer>.options: more flags, one a line, "#" starts a comment.
  [ -f "fuzz/$fuzzer.options" ] && extra+=($(grep -v '^#' "fuzz/$fuzzer.options"))
  echo "== $fuzzer for ${seconds}s"
  # -timeout: an input taking 10 s is a hang; -rss_limit_mb: the default 2 GB
  # with a margin for ASan's quarantine.
  "$bin" "$work" "$seeds" "${extra[@]}" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=3072 -max_len=8192 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$fuzzer-" >"$log" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -1)
  corpus=$(find "$work" "$seeds" -type f | wc -l)
  if [ $rc -ne 0 ]; then
    status=1
    echo "$fuzzer FAILED (exit $rc); the end of $log:"
    tail -40 "$log"
    ls -l "$artifacts" | grep -- "$fuzzer-" || true
  fi
  summary+=("$(printf '%-22s %12s %8s %10s %s' "$fuzzer" "${execs:-?}" "$corpus" "${rss:-?}" \
               "$([ $rc -eq 0 ] && echo ok || echo CRASH)")")
done

printf '%-22s %12s %8s %10s %s\n' fuzzer executions corpus peak_MiB result
printf '%s\n' "${summary[@]}"
exit $status
