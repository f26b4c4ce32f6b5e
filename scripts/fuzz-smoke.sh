#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build over its corpus (tests/fuzz/corpus/<name>) for a
# bounded time. New inputs go to a scratch directory, so the committed corpus is only read.
# Each target runs in its own working directory under BUILD_DIR/fuzz-work/, where crash
# artifacts land (the HLSL target's compiler helper process dies on purpose now and then;
# its artifacts stay there too). A failing target's directory is kept and named. The
# targets are the corpus folders: a program left in the build by a target since removed is
# not run, and a target whose program is missing fails.
# Usage: fuzz-smoke.sh BUILD_DIR SECONDS
set -euo pipefail
build="$(cd "$1" && pwd)"
seconds="$2"
root="$(cd "$(dirname "$0")/.." && pwd)"
status=0
shopt -s nullglob
for corpus in "$root"/tests/fuzz/corpus/*/; do
  corpus="${corpus%/}"
  name="fuzz_$(basename "$corpus")"
  fuzzer="$build/tests/fuzz/$name"
  if [ ! -x "$fuzzer" ]; then
    echo "$name: no such program in $build/tests/fuzz"
    status=1
    continue
  fi
  work="$build/fuzz-work/$name"
  rm -rf "$work"
  mkdir -p "$work/new"
  echo "-- $name"
  if ! (cd "$work" && "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
        -artifact_prefix="$work/" "$work/new" "$corpus" >"$work/log" 2>&1); then
    tail -n 60 "$work/log"
    echo "$name failed; its log and artifacts are in $work"
    status=1
  else
    grep -E 'stat::number_of_executed_units' "$work/log" | tail -n 1 || true
    rm -rf "$work"
  fi
done
if [ $status -eq 0 ]; then echo "fuzz smoke: passed"; fi
exit $status
