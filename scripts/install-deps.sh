#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# Usage: scripts/install-deps.sh [build|test|windows|package|web|python]
set -euo pipefail

# CLI11 and nlohmann/json (header-only) build the command-line mode, KissFFT's header the
# filter design; in every build.
packages=(cmake make g++ libcli11-dev nlohmann-json3-dev libkissfft-dev)
if [ "${1:-build}" = test ]; then
  # mandoc and man-db: the manual page's lint and rendering test; python3-scipy: the filter
  # design's independent oracle (scipy.signal.remez, freqz, upfirdn).
  packages+=(libgtest-dev clang libclang-rt-14-dev libbenchmark-dev valgrind python3 pkg-config
    mandoc man-db python3-scipy)
fi
# The Python module (the release and package presets build it): Python's headers, pybind11
# and NumPy; its tests add pytest, scipy (the measurements), matplotlib (the README's
# example) and mypy (stubtest).
python_packages=(python3 python3-dev pybind11-dev python3-numpy)
if [ "${1:-build}" = python ] || [ "${1:-build}" = test ] || [ "${1:-build}" = package ]; then
  packages+=("${python_packages[@]}")
fi
if [ "${1:-build}" = python ] || [ "${1:-build}" = test ]; then
  packages+=(python3-pytest python3-scipy python3-matplotlib mypy)
fi
if [ "${1:-build}" = package ]; then
  # dpkg-shlibdeps (dpkg-dev) for the package's dependencies, lintian to check it, zip and
  # unzip for the Windows archive, python3 to read the JSON of the checks.
  packages+=(dpkg-dev lintian mandoc man-db zip unzip python3 pkg-config)
fi
if [ "${1:-build}" = web ]; then
  # The web calculator: emscripten (em++, embind) for the WebAssembly module, Node and npm
  # for the page's packages (uPlot, playwright-core) and its tests, chromium to run them.
  # A nodejs package that brings its own npm (as NodeSource's does) needs no Debian npm.
  packages+=(emscripten nodejs chromium)
  command -v npm >/dev/null 2>&1 || packages+=(npm)
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

# The page's npm packages, exactly as web/package-lock.json pins them.
if [ "${1:-build}" = web ]; then
  cd "$(dirname "$0")/../web"
  if ! cmp -s package-lock.json node_modules/.package-lock.json 2>/dev/null; then
    echo "Installing the web page's npm packages (npm ci)"
    npm ci --no-audit --no-fund
  fi
fi
