#!/usr/bin/env bash
# Builds the program (release) and starts it at this terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build >&2
cmake --preset release >/dev/null
cmake --build --preset release --target quillmere -j"$(nproc)" >/dev/null
exec build/release/quillmere
