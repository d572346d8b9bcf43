#!/usr/bin/env bash
# The Windows build: cross-compiles quillmere.exe and its unit tests with MinGW-w64 and
# runs them under Wine, with the end-to-end sessions in a terminal and a comparison of
# its standard output with the Linux build's.
# Usage: scripts/test-windows.sh [--under-load] [CTEST OPTIONS...]
#   --under-load   one busy loop per core for the whole test run, as on a machine busy with
#                  other work: the terminal sessions must pass all the same
#   CTEST OPTIONS  passed on to ctest, for example -L wine for the Wine label alone
# QUILLMERE_LINUX_BINARY: the Linux build to compare with; default build/release/quillmere,
# built when missing.
set -euo pipefail
cd "$(dirname "$0")/.."

under_load=0
if [ "${1:-}" = --under-load ]; then
  under_load=1
  shift
fi

scripts/install-deps.sh windows

jobs="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"

linux_binary="${QUILLMERE_LINUX_BINARY:-$PWD/build/release/quillmere}"
if [ ! -x "$linux_binary" ]; then
  echo "== Linux build to compare with =="
  cmake --preset release >/dev/null
  cmake --build --preset release --target quillmere -j"$jobs"
  linux_binary="$PWD/build/release/quillmere"
fi

# A Wine of our own for this run: a fresh prefix, quiet, its server kept up between the
# many short runs of the tests and ended with the script.
WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/quillmere-wine.XXXXXX")"
# No .NET or HTML engine: nothing here needs them, and the prefix is made without asking.
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
busy_loops=()
stop_busy_loops() {
  if [ ${#busy_loops[@]} -gt 0 ]; then kill "${busy_loops[@]}" 2>/dev/null || true; fi
  busy_loops=()
}
stop_wine() {
  stop_busy_loops
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap stop_wine EXIT
echo "== Wine prefix (first start takes a while) =="
wineserver -p
wine cmd /c exit </dev/null >/dev/null 2>&1

echo "== Windows build (MinGW-w64 cross build) =="
cmake --preset windows -DQUILLMERE_LINUX_BINARY="$linux_binary" >/dev/null
cmake --build --preset windows -j"$jobs"

if [ "$under_load" = 1 ]; then
  cores="$(nproc)"
  echo "== Windows tests under Wine, with $cores busy loops (one per core) =="
  for _ in $(seq "$cores"); do
    sh -c 'while :; do :; done' &
    busy_loops+=($!)
  done
else
  echo "== Windows tests under Wine (unit tests and terminal sessions) =="
fi
started=$SECONDS
status=0
ctest --preset windows -j"$jobs" "$@" || status=$?
stop_busy_loops
echo "== Windows tests took $((SECONDS - started)) s =="
exit "$status"
