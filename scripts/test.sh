#!/usr/bin/env bash
# Builds and runs every test: the release build, then the sanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
export CTEST_PARALLEL_LEVEL="${CTEST_PARALLEL_LEVEL:-$(nproc)}"
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"

echo "== release build =="
cmake --workflow --preset release
echo "== sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer) =="
cmake --workflow --preset sanitize
echo "== Windows build (MinGW-w64 cross build, tests under Wine) =="
scripts/test-windows.sh
