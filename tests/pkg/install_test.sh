#!/usr/bin/env bash
# cmake --install of the build into DESTDIR with another prefix: every file where the
# GNU layout puts it, nothing outside DESTDIR/prefix, and the installed program, manual
# page and completion usable from there.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR DEBIAN_LAYOUT(ON|OFF)
set -u
build=$1
source_dir=$2
debian_layout=$3
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
prefix=/opt/quillmere-test
if ! DESTDIR="$root" cmake --install "$build" --prefix "$prefix" >"$root.log" 2>&1; then
    cat "$root.log"
    rm -f "$root.log"
    echo "FAIL: cmake --install"
    exit 1
fi
rm -f "$root.log"
top="$root$prefix"

outside=$(find "$root" -mindepth 1 \( -type f -o -type l \) ! -path "$top/*")
[[ -z $outside ]] || fail "installed outside the prefix: $outside"

[[ -x $top/bin/quillmere ]] || fail "no executable bin/quillmere"
completion="$top/share/bash-completion/completions/quillmere"
[[ -f $completion ]] || fail "no share/bash-completion/completions/quillmere"
doc="$top/share/doc/quillmere"
for file in README.md CHANGELOG.md; do
    cmp -s "$doc/$file" "$source_dir/$file" || fail "share/doc/quillmere/$file differs from the source"
done
if [[ $debian_layout == ON ]]; then
    page="$top/share/man/man1/quillmere.1.gz"
    zcat "$page" 2>/dev/null | cmp -s - "$source_dir/man/quillmere.1" ||
        fail "share/man/man1/quillmere.1.gz is not the compressed manual page"
    grep -q '^License: Expat' "$doc/copyright" 2>/dev/null || fail "no Debian copyright file"
    grep -q '^Files: kissfft.hh' "$doc/copyright" && grep -q '^License: BSD-3-clause$' "$doc/copyright" ||
        fail "the Debian copyright file lacks KissFFT's licence"
    zcat "$doc/changelog.gz" 2>/dev/null | head -1 | grep -q '^quillmere (' ||
        fail "no Debian changelog.gz"
else
    page="$top/share/man/man1/quillmere.1"
    cmp -s "$page" "$source_dir/man/quillmere.1" || fail "share/man/man1/quillmere.1 differs"
    cmp -s "$doc/LICENSE" "$source_dir/LICENSE" || fail "share/doc/quillmere/LICENSE differs"
    cmp -s "$doc/KissFFT-LICENSE.txt" "$source_dir/packaging/third-party/KissFFT-LICENSE.txt" ||
        fail "share/doc/quillmere/KissFFT-LICENSE.txt differs"
fi

# The library for other projects (component Development).
for header in quillmere.h export.h version.h; do
    [[ -f $top/include/quillmere/$header ]] || fail "no include/quillmere/$header"
done
for pattern in 'lib*/libquillmere.*' 'lib*/cmake/Quillmere/QuillmereConfig.cmake' \
    'lib*/pkgconfig/quillmere.pc'; do
    [[ -n $(find "$top" -path "$top/$pattern") ]] || fail "nothing installed as $pattern"
done

# The installed manual page through man, as a user reads it.
if command -v man >/dev/null; then
    MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q 'rational sample-rate conversion' ||
        fail "man cannot render the installed page"
fi
# The installed completion registers itself in a new bash.
bash -c "source '$completion' && complete -p quillmere" 2>/dev/null | grep -q _quillmere ||
    fail "the installed completion does not register"
# Modes and permissions as a package needs them: no file writable by others.
writable=$(find "$top" -perm -o+w ! -type l)
[[ -z $writable ]] || fail "writable by others: $writable"

if [[ $failures -gt 0 ]]; then
    echo "$failures failure(s)"
    find "$root" | sed "s|^$root||"
    exit 1
fi
echo "ok"
