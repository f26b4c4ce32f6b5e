#!/usr/bin/env bash
# Installs the Debian packages the engine, its tools and its tests need (the last line: the
# man pages' help2man, and what the package test runs: dpkg-shlibdeps, lintian, the desktop
# and MIME tools, bwrap for the thumbnailer's sandbox, bash-completion, man).
# Only what is missing is installed; running it again is cheap.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config clang libclang-rt-14-dev
  libsdl2-dev libepoxy-dev libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri
  glslang-dev glslang-tools spirv-tools libspirv-cross-c-shared-dev
  libstb-dev zlib1g-dev libfreetype-dev fonts-dejavu-core
  libassimp-dev libmimalloc-dev assimp-testmodels assimp-utils nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool x11-apps python3 python3-pil
  g++-mingw-w64-x86-64-posix
  help2man dpkg-dev lintian desktop-file-utils shared-mime-info xdg-utils bubblewrap bash-completion man-db
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
