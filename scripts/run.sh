#!/usr/bin/env bash
# Builds the program (release) and starts it at this terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build >&2
# A build folder of its own, without the tests, so nothing but the compiler is needed.
cmake -S . -B build/run -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/run --target quillmere -j"$(nproc)" >/dev/null
exec build/run/quillmere
