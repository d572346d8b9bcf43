#!/usr/bin/env bash
# Builds the program (release) and starts it at this terminal; arguments go to the program.
# What it does before the program starts (installing, configuring, building) is told on
# standard error, so that a first run on a fresh machine does not sit silent.
set -euo pipefail
cd "$(dirname "$0")/.."
say() { printf 'run.sh: %s\n' "$*" >&2; }

say "checking the build tools (cmake, make, g++)"
scripts/install-deps.sh build >&2
# A build folder of its own, without the tests, so nothing but the compiler is needed.
if [ ! -f build/run/CMakeCache.txt ]; then
  say "configuring a release build in build/run"
fi
cmake -S . -B build/run -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
say "building quillmere (the first build takes about a minute)"
# make's progress, one line per source file; compiler messages pass through unchanged.
cmake --build build/run --target quillmere -j"$(nproc)" 2>&1 |
  sed -u -e '/Built target\|Scanning dependencies\|Consolidate compiler/d' \
    -e 's|^\(\[ *[0-9]*%\]\) Building CXX object .*/\(src/.*\)\.o$|  \1 compiling \2|' \
    -e 's|^\(\[ *[0-9]*%\]\) Linking CXX \(.*\)$|  \1 linking \2|' >&2
say "starting build/run/quillmere"
exec build/run/quillmere "$@"
