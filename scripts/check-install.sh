#!/bin/sh
# Installs the library from a configured build folder into a temporary prefix, builds
# examples/two_modes.cpp against that prefix (with find_package, and with pkg-config when
# it is installed), runs it and checks what it prints.
#
#   scripts/check-install.sh [build folder, default build/release]
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/release"}
if [ ! -f "$build/CMakeCache.txt" ]; then
    (cd "$root" && cmake --preset release)
fi
cmake --build "$build" -j2 --target quillmere_library

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" --component Development

expected='minimal-sum: L1/M1 = 10/7, L2/M2 = 16/21 (match)
custom-limit: L1/M1 = 10/7, L2/M2 = 16/21 (match)'

check() {
    if [ "$2" != "$expected" ]; then
        printf 'check-install: %s printed\n%s\ninstead of\n%s\n' "$1" "$2" "$expected" >&2
        exit 1
    fi
    printf 'check-install: %s ok\n' "$1"
}

cmake -S "$root/examples" -B "$work/example" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/example" -j2 >/dev/null
check "find_package example" "$("$work/example/two_modes")"

if command -v pkg-config >/dev/null 2>&1; then
    pc=$(find "$prefix" -name quillmere.pc | head -n 1)
    export PKG_CONFIG_PATH="$(dirname "$pc")"
    # shellcheck disable=SC2046 # the flags are words
    c++ -std=c++20 "$root/examples/two_modes.cpp" -o "$work/two_modes_pc" \
        $(pkg-config --cflags --libs quillmere)
    # A shared library is found in the prefix only when the loader is told where it is.
    libdir=$(pkg-config --variable=libdir quillmere)
    check "pkg-config example" "$(LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
        "$work/two_modes_pc")"
fi
