#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# Usage: scripts/install-deps.sh [build|test|windows]
set -euo pipefail

packages=(cmake make g++)
if [ "${1:-build}" = test ]; then
  packages+=(libgtest-dev clang libclang-rt-14-dev libbenchmark-dev valgrind python3 pkg-config)
fi
if [ "${1:-build}" = windows ]; then
  packages+=(googletest g++-mingw-w64-x86-64-posix wine wine64 tmux python3)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
fi
