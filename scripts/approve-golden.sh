#!/usr/bin/env bash
# Approves golden images: copies the images that failing golden tests left in
# BUILD/golden-failures/ (NAME.actual.png) over the references tests/golden/NAME.png.
# Look at NAME.actual.png and NAME.diff.png first; the copy is what the tests will demand.
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
    *) names+=("${1%.png}"); shift ;;
  esac
done

failures="$build/golden-failures"
if [ ${#names[@]} -eq 0 ]; then
  shopt -s nullglob
  for actual in "$failures"/*.actual.png; do
    name="$(basename "$actual")"
    names+=("${name%.actual.png}")
  done
  if [ ${#names[@]} -eq 0 ]; then
    echo "approve-golden: no images waiting in $failures" >&2
    exit 2
  fi
fi

mkdir -p "$root/tests/golden"
status=0
for name in "${names[@]}"; do
  actual="$failures/$name.actual.png"
  if [ ! -f "$actual" ]; then
    echo "approve-golden: $actual does not exist" >&2
    status=2
    continue
  fi
  cp "$actual" "$root/tests/golden/$name.png"
  rm -f "$actual" "$failures/$name.diff.png"
  echo "approved tests/golden/$name.png"
done
exit $status
