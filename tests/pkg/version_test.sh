#!/usr/bin/env bash
# The version has one source, project() in CMakeLists.txt: no other file of the source
# tree spells it out, except CHANGELOG.md, which must have an entry for it.
# Usage: version_test.sh SOURCE_DIR VERSION
set -u
source_dir=$1
version=$2
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

cd "$source_dir" || exit 1
pattern="(^|[^0-9.])${version//./\\.}([^0-9]|$)"
found=$(grep -rnE --exclude-dir=build --exclude-dir=.git --exclude-dir=.cache --exclude-dir=node_modules \
    --exclude=CHANGELOG.md "$pattern" . | grep -v '^\./CMakeLists\.txt:[0-9]*:project(')
[[ -z $found ]] || fail "the version $version is written out here; take it from the build instead:
$found"
grep -qE "^## ${version//./\\.} .* [0-9]{4}-[0-9]{2}-[0-9]{2}\$" CHANGELOG.md ||
    fail "CHANGELOG.md has no entry '## $version — YYYY-MM-DD'"

if [[ $failures -gt 0 ]]; then
    exit 1
fi
echo "ok"
