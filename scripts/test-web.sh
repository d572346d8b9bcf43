#!/usr/bin/env bash
# The web calculator's tests: the WebAssembly module in Node over the 648-request table,
# and the page in headless chromium, both against the native program's records
# (build/release/quillmere, built here when missing). Figures and the screenshot go to
# build/web (web-figures.json, web-calculator.png).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh web
export NODE_PATH=/usr/share/nodejs
jobs="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"

if [ ! -x build/release/quillmere ]; then
  cmake --preset release >/dev/null
  cmake --build build/release --target quillmere -j"$jobs"
fi
cmake --preset web >/dev/null
cmake --build build/web -j"$jobs"

cd web
# This emscripten's loader takes Node's fetch for a browser's: the module in Node runs
# without it. playwright-core needs it, and loads no WebAssembly in Node.
node --no-experimental-fetch --test tests/wasm.test.mjs
node --test tests/browser.test.mjs
