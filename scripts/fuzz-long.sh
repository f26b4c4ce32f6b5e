#!/usr/bin/env bash
# The long fuzz run: each fuzz target of a fuzz build, one at a time, for SECONDS over its
# committed corpus, then the inputs that add coverage merged into that corpus
# (tests/fuzz/corpus/<name>, -merge=1: inputs already there stay, so regression seeds are
# kept). Work directories, logs and any crash inputs stay in BUILD/fuzz-long/<target>/;
# a summary line per target (executions, corpus before and after, findings) goes to stdout.
# Usage: fuzz-long.sh BUILD_DIR SECONDS [TARGET...]   (targets without the fuzz_ prefix)
set -euo pipefail
build="$(cd "$1" && pwd)"
seconds="$2"
shift 2
root="$(cd "$(dirname "$0")/.." && pwd)"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for fuzzer in "$build"/tests/fuzz/fuzz_*; do [ -x "$fuzzer" ] && targets+=("$(basename "${fuzzer#*fuzz_}")"); done
fi
status=0
for name in "${targets[@]}"; do
  fuzzer="$build/tests/fuzz/fuzz_$name"
  corpus="$root/tests/fuzz/corpus/$name"
  work="$build/fuzz-long/$name"
  rm -rf "$work"
  mkdir -p "$work/new" "$corpus"
  before=$(ls "$corpus" | wc -l)
  if (cd "$work" && "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
        -artifact_prefix="$work/" "$work/new" "$corpus" >"$work/log" 2>&1); then
    finding=none
  else
    finding="see $work/log"
    status=1
  fi
  (cd "$work" && "$fuzzer" -merge=1 -timeout=10 -rss_limit_mb=4096 "$corpus" "$work/new" >"$work/merge.log" 2>&1) || true
  runs=$(grep -E 'stat::number_of_executed_units' "$work/log" | tail -n 1 | awk '{print $2}')
  echo "$name: ${seconds}s, ${runs:-?} executions, corpus $before -> $(ls "$corpus" | wc -l) files, findings: $finding"
done
exit $status
