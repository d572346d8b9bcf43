#!/usr/bin/env bash
# The module from cmake --install: the Python component installed into a temporary root,
# its files where QUILLMERE_PYTHON_INSTALL_DIR says, nothing else installed by it, and the
# tests of plan() and of the typing run against the installed package.
# Usage: installed_test.sh BUILD_DIR PYTHON INSTALL_DIR PROGRAM TESTS_DIR
set -euo pipefail
build=$1 python=$2 install_dir=$3 program=$4 tests=$5

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
prefix=/opt/quillmere-test
DESTDIR="$root" cmake --install "$build" --prefix "$prefix" --component Python >/dev/null
package="$root$prefix/$install_dir/quillmere"
for file in __init__.py _enums.py _plans.py _native.pyi py.typed; do
  [[ -f $package/$file ]] || { echo "FAIL: no $install_dir/quillmere/$file"; exit 1; }
done
shopt -s nullglob
native=("$package"/_native*.so)
[[ ${#native[@]} -eq 1 ]] || { echo "FAIL: no native module in $package"; exit 1; }
others=$(find "$root" -type f ! -path "$package/*")
[[ -z $others ]] || { echo "FAIL: the Python component installed $others"; exit 1; }

cd "$root"
PYTHONPATH="$root$prefix/$install_dir" QUILLMERE_MODULE_DIR="$package" \
  QUILLMERE_PROGRAM="$program" PYTHONDONTWRITEBYTECODE=1 \
  "$python" -m pytest -q -p no:cacheprovider "$tests/test_plans.py" "$tests/test_typing.py"
