#!/usr/bin/env bash
# Builds and runs every test: the release build (memcheck sessions and the Python module's
# tests included), the web calculator, the sanitizer build, the fuzzers, the Windows build
# and the packages (the Python module's tests again, against the unpacked python3-quillmere).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
export CTEST_PARALLEL_LEVEL="${CTEST_PARALLEL_LEVEL:-$(nproc)}"
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"

echo "== release build =="
cmake --workflow --preset release
echo "== installed library: the example built against a temporary prefix =="
scripts/check-install.sh build/release
echo "== web calculator (WebAssembly in Node, the page in headless chromium) =="
scripts/test-web.sh
echo "== sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer) =="
cmake --workflow --preset sanitize
echo "== fuzzing (libFuzzer with AddressSanitizer + UndefinedBehaviorSanitizer, clang) =="
cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLMERE_BUILD_FUZZERS=ON
cmake --build build/fuzz --target fuzzers
ctest --test-dir build/fuzz -L fuzz --output-on-failure
awk '/ Test: /{name=$NF} /number_of_executed_units/{print "  " name ": " $2 " executions"}' \
  build/fuzz/Testing/Temporary/LastTest.log
echo "== Windows build (MinGW-w64 cross build, tests under Wine) =="
scripts/test-windows.sh
echo "== packages (Debian packages and Windows zip, checked as a user gets them) =="
scripts/check-packages.sh
