#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build over its corpus (tests/fuzz/corpus/<name>) for a
# bounded time. New inputs go to a scratch directory, so the committed corpus is only read.
# Usage: fuzz-smoke.sh BUILD_DIR SECONDS
set -euo pipefail
build="$1"
seconds="$2"
root="$(cd "$(dirname "$0")/.." && pwd)"
status=0
shopt -s nullglob
for fuzzer in "$build"/tests/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name="$(basename "$fuzzer")"
  corpus="$root/tests/fuzz/corpus/${name#fuzz_}"
  scratch="$(mktemp -d)"
  echo "-- $name"
  if ! "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
       "$scratch" "$corpus" 2>"$scratch.log"; then
    tail -n 60 "$scratch.log"
    status=1
  else
    grep -E 'stat::number_of_executed_units' "$scratch.log" || true
  fi
  rm -rf "$scratch" "$scratch.log"
done
if [ $status -eq 0 ]; then echo "fuzz smoke: passed"; fi
exit $status
