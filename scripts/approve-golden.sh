#!/usr/bin/env bash
# Approves golden images and logs: copies what failing golden tests left in
# BUILD/golden-failures/ (NAME.actual.png, NAME.actual.log) over the references
# tests/golden/NAME.png and NAME.log. Look at NAME.actual.png and NAME.diff.png (or diff the
# log) first; the copy is what the tests will demand.
#
# Usage: approve-golden.sh [--build DIR] [NAME...]
#   --build DIR  the build tree whose test run failed (default: build/debug, as test.sh builds)
#   NAME...      only these images (default: every image waiting in DIR/golden-failures)
# Exit status: 0 approved, 1 bad arguments, 2 nothing to approve.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/debug"
names=()

while [ $# -gt 0 ]; do
  case "$1" in
    -h|--help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    --build)
      [ $# -ge 2 ] || { echo "approve-golden: --build needs a directory" >&2; exit 1; }
      build="$2"; shift 2 ;;
    -*) echo "approve-golden: unknown option $1 (see --help)" >&2; exit 1 ;;
    *) name="${1%.png}"; names+=("${name%.log}"); shift ;;
  esac
done

failures="$build/golden-failures"
if [ ${#names[@]} -eq 0 ]; then
  shopt -s nullglob
  for actual in "$failures"/*.actual.png "$failures"/*.actual.log; do
    name="$(basename "$actual")"
    name="${name%.actual.png}"
    names+=("${name%.actual.log}")
  done
  if [ ${#names[@]} -eq 0 ]; then
    echo "approve-golden: no images waiting in $failures" >&2
    exit 2
  fi
fi

mkdir -p "$root/tests/golden"
status=0
for name in "${names[@]}"; do
  if [ -f "$failures/$name.actual.png" ]; then
    cp "$failures/$name.actual.png" "$root/tests/golden/$name.png"
    rm -f "$failures/$name.actual.png" "$failures/$name.diff.png"
    echo "approved tests/golden/$name.png"
  elif [ -f "$failures/$name.actual.log" ]; then
    cp "$failures/$name.actual.log" "$root/tests/golden/$name.log"
    rm -f "$failures/$name.actual.log"
    echo "approved tests/golden/$name.log"
  else
    echo "approve-golden: nothing waits for $name in $failures" >&2
    status=2
  fi
done
exit $status
