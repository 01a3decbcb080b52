#!/usr/bin/env bash
# Runs each libFuzzer target of the fuzz preset for a fixed time, starting from its seed and
# regression corpora, and fails on any finding (crash, sanitizer report, leak, time-out).
# Prints the executions, executions per second and, for the export target, the export calls.
#   OSTREL_FUZZ_SECONDS   seconds per target (default 180)
#   OSTREL_FUZZ_TARGETS   targets to run (default: exports card_data)
# Build first: cmake --preset fuzz && cmake --build --preset fuzz
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${OSTREL_FUZZ_SECONDS:-180}"
targets="${OSTREL_FUZZ_TARGETS:-exports card_data}"
work="$(mktemp -d "${TMPDIR:-/tmp}/ostrel-fuzz.XXXXXX")"
trap 'rm -rf "$work"' EXIT
status=0
for target in $targets; do
  binary="$PWD/build/fuzz/tests/fuzz/fuzz_$target"
  corpus="$PWD/tests/fuzz/corpus/$target"
  mkdir -p "$work/$target/corpus" "$work/$target/artifacts"
  echo "=== fuzz $target: $seconds s ==="
  # New inputs go to the scratch corpus only; the repository keeps seeds and findings.
  set +e
  "$binary" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=4096 -max_len=1024 \
    -len_control=0 -entropic_scale_per_exec_time=1 -print_final_stats=1 \
    -artifact_prefix="$work/$target/artifacts/" \
    "$work/$target/corpus" "$corpus/seed" "$corpus/regression" > "$work/$target/log" 2>&1
  result=$?
  set -e
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec)|^export calls' \
    "$work/$target/log" | tail -n 3 || true
  if [ "$result" -ne 0 ] || ls "$work/$target/artifacts/"* > /dev/null 2>&1; then
    echo "FUZZ FINDING in $target (exit $result):"
    tail -n 60 "$work/$target/log"
    for artifact in "$work/$target/artifacts/"*; do
      [ -e "$artifact" ] || continue
      kept="$PWD/build/fuzz/findings/$target/$(basename "$artifact")"
      mkdir -p "$(dirname "$kept")"
      cp "$artifact" "$kept"
      echo "input kept at $kept: mend the fault, then add it to tests/fuzz/corpus/$target/regression"
    done
    status=1
  fi
done
exit "$status"
