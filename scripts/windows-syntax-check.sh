#!/usr/bin/env bash
# Compiles every source file of the engine's own folders against mingw-w64's real
# windows.h, d3d9.h and d3dx9.h (syntax only, warnings are errors), so the engine stays a
# Win32 / Direct3D 9 program and not one that builds only against platform/include.
set -euo pipefail
cd "$(dirname "$0")/.."

compiler=x86_64-w64-mingw32-g++-posix
if ! command -v "$compiler" >/dev/null; then
  echo "windows-syntax-check: $compiler is missing (package g++-mingw-w64-x86-64-posix)" >&2
  exit 1
fi
failed=0
checked=0
for file in app/*.cpp render/*.cpp resources/*.cpp import/*.cpp scene/*.cpp postfx/*.cpp; do
  checked=$((checked + 1))
  if ! "$compiler" -std=c++20 -fsyntax-only -Wall -Wextra -Werror -I. "$file"; then
    echo "windows-syntax-check: $file fails against the Windows headers" >&2
    failed=$((failed + 1))
  fi
done
echo "windows-syntax-check: $((checked - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
