#!/usr/bin/env bash
# Builds the packages and checks them as a user gets them:
# - the Debian packages quillmere, quillmere-dev and python3-quillmere from a hardened
#   release build (build/package): their fields and contents, lintian (any error fails),
#   the program unpacked with dpkg -x into a temporary root (--version, one request, its
#   manual page) and the Python module's tests against the unpacked module;
# - the Windows zip from the MinGW cross build (build/windows when scripts/test-windows.sh
#   has built it, otherwise build/windows-package without the tests): its contents, and one
#   request from the unzipped quillmere.exe under Wine, which must answer as the Linux
#   program does (CRLF aside).
# Usage: scripts/check-packages.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh build
scripts/install-deps.sh package
scripts/install-deps.sh windows
scripts/install-deps.sh python
jobs="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
work="$(mktemp -d "${TMPDIR:-/tmp}/quillmere-packages.XXXXXX")"
WINEPREFIX="$work/wine"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
cleanup() {
  if [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# The request every check makes, and the answer it must give: 44.1 kHz to 48 kHz is
# exactly L/M = 160/147.
request=(--format json 44100 48000)
check_answer() { # check_answer WHERE FILE: the JSON record of the request above
  python3 - "$1" "$2" <<'EOF' || fail "$1: wrong answer to ${request[*]}: $(head -c 600 "$2")"
import json, sys
where, path = sys.argv[1], sys.argv[2]
with open(path, encoding="utf-8") as f:
    lines = [line for line in f.read().splitlines() if line.strip()]
if len(lines) != 1:
    sys.exit(f"{where}: {len(lines)} lines instead of one JSON record")
try:
    record = json.loads(lines[0])
    assert record["status"] == "match", f"status {record['status']}"
    text = json.dumps(record)
    assert '"l": 160' in text and '"m": 147' in text, "L/M is not 160/147"
except Exception as error:
    sys.exit(f"{where}: {error!r}")
EOF
}

echo "== Debian packages (release build in build/package) =="
rm -rf build/package/packages
cmake --preset package >/dev/null
cmake --build --preset package -j"$jobs"
cpack --preset deb
shopt -s nullglob
debs=(build/package/packages/*.deb)
shopt -u nullglob
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/package/CMakeCache.txt)"
deb="build/package/packages/quillmere_${version}_amd64.deb"
deb_dev="build/package/packages/quillmere-dev_${version}_amd64.deb"
deb_python="build/package/packages/python3-quillmere_${version}_amd64.deb"
made=()
for file in "$deb" "$deb_dev" "$deb_python"; do
  [ -f "$file" ] || { fail "no $file (made: ${debs[*]})"; continue; }
  made+=("$file")
  echo "-- $file"
  dpkg-deb --info "$file"
  dpkg-deb --contents "$file"
done
[ -f "$deb" ] || { echo "$failures failure(s)" >&2; exit 1; }

# Fields and files a user of the package relies on.
depends="$(dpkg-deb --field "$deb" Depends)"
[[ $depends == *libc6* ]] || fail "Depends lacks libc6 (dpkg-shlibdeps): '$depends'"
contents="$(dpkg-deb --contents "$deb" | awk '{print $NF}')"
for path in ./usr/bin/quillmere ./usr/share/man/man1/quillmere.1.gz \
  ./usr/share/bash-completion/completions/quillmere ./usr/share/doc/quillmere/copyright \
  ./usr/share/doc/quillmere/changelog.gz ./usr/share/doc/quillmere/README.md; do
  grep -qxF "$path" <<<"$contents" || fail "$deb lacks $path"
done
if [ -f "$deb_dev" ]; then
  contents_dev="$(dpkg-deb --contents "$deb_dev" | awk '{print $NF}')"
  for pattern in '^\./usr/include/quillmere/quillmere\.h$' '^\./usr/lib/.*libquillmere\.' \
    '/cmake/Quillmere/QuillmereConfig\.cmake$' '/pkgconfig/quillmere\.pc$'; do
    grep -qE "$pattern" <<<"$contents_dev" || fail "$deb_dev has no file matching $pattern"
  done
fi

if [ -f "$deb_python" ]; then
  depends_python="$(dpkg-deb --field "$deb_python" Depends)"
  for dependency in python3-numpy 'python3 (>=' libc6; do
    [[ $depends_python == *"$dependency"* ]] ||
      fail "python3-quillmere's Depends lacks $dependency: '$depends_python'"
  done
  contents_python="$(dpkg-deb --contents "$deb_python" | awk '{print $NF}')"
  for pattern in '^\./usr/lib/python3/dist-packages/quillmere/__init__\.py$' \
    '^\./usr/lib/python3/dist-packages/quillmere/_native\.cpython-.*\.so$' \
    '^\./usr/lib/python3/dist-packages/quillmere/py\.typed$' \
    '^\./usr/lib/python3/dist-packages/quillmere/_native\.pyi$' \
    '^\./usr/share/doc/python3-quillmere/copyright$'; do
    grep -qE "$pattern" <<<"$contents_python" || fail "$deb_python has no file matching $pattern"
  done
fi

echo "== lintian =="
lintian_status=0
lintian --fail-on error --info --pedantic "${made[@]}" || lintian_status=$?
[ "$lintian_status" -eq 0 ] || fail "lintian reports errors (exit $lintian_status)"
echo "lintian: done (tags, if any, above; only errors fail)"

echo "== The unpacked Debian package =="
root="$work/root"
dpkg -x "$deb" "$root"
program="$root/usr/bin/quillmere"
if ldd "$program" | grep -q 'not found'; then fail "unresolved libraries: $(ldd "$program")"; fi
if output="$("$program" --version)"; then
  echo "quillmere --version: $output"
  [ "$output" = "quillmere $version" ] || fail "--version prints '$output', not 'quillmere $version'"
else
  fail "quillmere --version exits $?"
fi
status=0
"$program" "${request[@]}" >"$work/linux.json" || status=$?
[ "$status" -eq 0 ] || fail "quillmere ${request[*]} exits $status"
echo "quillmere ${request[*]}: $(cat "$work/linux.json")"
check_answer "the Debian package" "$work/linux.json"
man_text="$(MANWIDTH=80 man -l "$root/usr/share/man/man1/quillmere.1.gz" 2>&1)" ||
  fail "man cannot render the packaged manual page"
grep -q 'rational sample-rate conversion calculator' <<<"$man_text" ||
  fail "the packaged manual page renders without its NAME line"

echo "== The Python module from python3-quillmere, unpacked beside it =="
if [ -f "$deb_python" ]; then
  dpkg -x "$deb_python" "$root"
  # Debian's own python3, which the package depends on, with the unpacked folder first.
  if (cd "$work" && PYTHONPATH="$root/usr/lib/python3/dist-packages" \
    QUILLMERE_MODULE_DIR="$root/usr/lib/python3/dist-packages/quillmere" \
    QUILLMERE_PROGRAM="$program" PYTHONDONTWRITEBYTECODE=1 \
    /usr/bin/python3 -m pytest -q -p no:cacheprovider "$OLDPWD/tests/python/test_plans.py" \
    "$OLDPWD/tests/python/test_design.py" "$OLDPWD/tests/python/test_typing.py" \
    "$OLDPWD/tests/python/test_readme_example.py"); then
    echo "python3-quillmere: the tests pass against the unpacked module"
  else
    fail "the Python module's tests fail against the unpacked python3-quillmere"
  fi
fi

echo "== The library from quillmere-dev, unpacked beside it =="
if [ -f "$deb_dev" ]; then
  dpkg -x "$deb_dev" "$root"
  # With CMake's find_package(Quillmere), and with pkg-config.
  if cmake -S examples -B "$work/example" -DCMAKE_PREFIX_PATH="$root/usr" \
    -DCMAKE_BUILD_TYPE=Release >"$work/example.log" 2>&1 &&
    cmake --build "$work/example" >>"$work/example.log" 2>&1; then
    output="$("$work/example/two_modes")" || fail "the example built with find_package exits $?"
    echo "two_modes (find_package): $output"
    grep -q 'minimal-sum: L1/M1 = 10/7, L2/M2 = 16/21' <<<"$output" ||
      fail "the example built with find_package answers otherwise"
  else
    cat "$work/example.log"
    fail "the example does not build against quillmere-dev with find_package"
  fi
  pc_dir="$(dirname "$(find "$root/usr" -name quillmere.pc | head -n 1)")"
  # shellcheck disable=SC2046 # the flags are words
  if c++ -std=c++20 examples/two_modes.cpp -o "$work/two_modes_pc" \
    $(PKG_CONFIG_PATH="$pc_dir" pkg-config --cflags --libs quillmere); then
    output="$("$work/two_modes_pc")" || fail "the example built with pkg-config exits $?"
    grep -q 'minimal-sum: L1/M1 = 10/7, L2/M2 = 16/21' <<<"$output" ||
      fail "the example built with pkg-config answers otherwise: $output"
  else
    fail "the example does not build against quillmere-dev with pkg-config"
  fi
fi

echo "== Windows zip (MinGW-w64 cross build) =="
if [ -x build/windows/quillmere.exe ] && [ -f build/windows/CPackConfig.cmake ]; then
  windows_build=build/windows # the build of scripts/test-windows.sh, tests and all
  cmake --build "$windows_build" --target quillmere -j"$jobs"
else
  windows_build=build/windows-package
  cmake --preset windows -B "$windows_build" -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$windows_build" -j"$jobs"
fi
rm -rf "$windows_build/packages"
(cd "$windows_build" && cpack -G ZIP)
zip="$windows_build/packages/quillmere-${version}-win64.zip"
if [ ! -f "$zip" ]; then
  fail "no $zip"
else
  unzip -l "$zip"
  unzip -q "$zip" -d "$work/zip"
  top="$work/zip/quillmere-${version}-win64"
  for file in quillmere.exe README.md LICENSE.txt; do
    [ -f "$top/$file" ] || fail "the zip lacks quillmere-${version}-win64/$file"
  done
  echo "-- Wine prefix (first start takes a while)"
  mkdir -p "$WINEPREFIX"
  wineserver -p
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  status=0
  (cd "$top" && wine ./quillmere.exe "${request[@]}" </dev/null >"$work/windows.raw") || status=$?
  [ "$status" -eq 0 ] || fail "quillmere.exe ${request[*]} under Wine exits $status"
  tr -d '\r' <"$work/windows.raw" >"$work/windows.json"
  echo "quillmere.exe ${request[*]}: $(cat "$work/windows.json")"
  check_answer "the Windows zip" "$work/windows.json"
  cmp -s "$work/linux.json" "$work/windows.json" ||
    fail "quillmere.exe answers otherwise than the Linux program: $(diff "$work/linux.json" "$work/windows.json")"
fi

if [ "$failures" -gt 0 ]; then
  echo "== $failures failure(s) ==" >&2
  exit 1
fi
echo "== packages checked: $(basename "$deb"), $(basename "$deb_dev"), $(basename "$deb_python"), $(basename "$zip") =="
