#!/usr/bin/env bash
# Builds the web calculator (the library in WebAssembly and the page) and serves it on
# 127.0.0.1; prints the URL. Usage: scripts/web.sh [PORT] (default 8000; 0 takes any free
# port). Stop it with Ctrl+C.
set -euo pipefail
cd "$(dirname "$0")/.."
say() { printf 'web.sh: %s\n' "$*" >&2; }

say "checking emscripten, Node, npm and the page's packages"
scripts/install-deps.sh web >&2
export NODE_PATH=/usr/share/nodejs
say "building the WebAssembly module and the page in build/web/site"
cmake --preset web >/dev/null
cmake --build build/web -j"$(nproc)" >&2
exec node web/serve.mjs build/web/site "${1:-8000}"
