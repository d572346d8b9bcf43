#!/usr/bin/env bash
# Builds the library the two ways that need no more than a compiler and CMake, with CLI11,
# nlohmann/json and GoogleTest hidden from CMake:
#   library_only    the source tree configured for the library alone
#   add_subdirectory a project that takes the source tree with add_subdirectory and
#                   builds examples/two_modes.cpp against it, which must print its answers
# Usage: consumer_test.sh SOURCE_DIR library_only|add_subdirectory
set -euo pipefail
source_dir=$1
kind=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
hidden=(-DCMAKE_DISABLE_FIND_PACKAGE_CLI11=ON -DCMAKE_DISABLE_FIND_PACKAGE_nlohmann_json=ON
        -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_BUILD_TYPE=Release)

fail() {
    echo "FAIL: $*"
    exit 1
}

case $kind in
library_only)
    cmake -S "$source_dir" -B "$work/build" "${hidden[@]}" -DQUILLMERE_BUILD_PROGRAM=OFF \
          -DBUILD_TESTING=OFF >"$work/configure.log" 2>&1 ||
        { cat "$work/configure.log"; fail "the library-only configure failed"; }
    cmake --build "$work/build" -j2 >"$work/build.log" 2>&1 ||
        { cat "$work/build.log"; fail "the library-only build failed"; }
    [[ -f $work/build/libquillmere.a ]] || fail "no libquillmere.a"
    [[ ! -e $work/build/quillmere ]] || fail "the program was built"
    cmake --install "$work/build" --prefix "$work/prefix" >/dev/null ||
        fail "the library-only install failed"
    [[ -f $work/prefix/include/quillmere/version.h ]] || fail "no version.h installed"
    [[ ! -e $work/prefix/bin/quillmere ]] || fail "the program was installed"
    ;;
add_subdirectory)
    cmake -S "$source_dir/tests/pkg/subdirectory_consumer" -B "$work/build" "${hidden[@]}" \
          -DQUILLMERE_SOURCE_DIR="$source_dir" >"$work/configure.log" 2>&1 ||
        { cat "$work/configure.log"; fail "the consumer's configure failed"; }
    cmake --build "$work/build" -j2 >"$work/build.log" 2>&1 ||
        { cat "$work/build.log"; fail "the consumer's build failed"; }
    output=$("$work/build/two_modes")
    expected='minimal-sum: L1/M1 = 10/7, L2/M2 = 16/21 (match)
custom-limit: L1/M1 = 10/7, L2/M2 = 16/21 (match)'
    [[ $output == "$expected" ]] || fail "two_modes printed
$output"
    # The subproject brings neither its program nor its tests nor install rules.
    [[ ! -e $work/build/quillmere/quillmere ]] || fail "the subproject built its program"
    tests=$(ctest --test-dir "$work/build" -N | sed -n 's/^Total Tests: //p')
    [[ ${tests:-0} == 0 ]] || fail "the subproject added $tests tests"
    cmake --install "$work/build" --prefix "$work/prefix" >/dev/null ||
        fail "the consumer's install failed"
    if [[ -d $work/prefix ]]; then
        installed=$(find "$work/prefix" -type f | head -n 3)
        [[ -z $installed ]] || fail "the subproject installs files:
$installed"
    fi
    ;;
*)
    fail "unknown kind $kind"
    ;;
esac
echo "ok"
