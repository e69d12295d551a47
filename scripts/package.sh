#!/usr/bin/env bash
# Builds the Debian package and the Windows zip into build/packages, from the
# native and Windows build trees (configured and brought up to date here; CI
# reuses the trees its tests built).
#   scripts/package.sh            build both packages (installs the package set
#                                 of scripts/install-deps.sh when any is missing)
#   scripts/package.sh --check    ... and check them as a user would meet them
#                                 (installs the test set: lintian, wine, Xvfb)
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
    "") check=0 ;;
    --check) check=1 ;;
    -h|--help) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "package.sh: unknown argument '$1'" >&2; echo "Try 'scripts/package.sh --help'." >&2; exit 2 ;;
esac
if [ "$check" = 1 ]; then scripts/install-deps.sh test; else scripts/install-deps.sh package; fi

# One time for every file of both packages: the commit's, or without git the
# date of the newest entry of the change log.
release_epoch() {
    date -u -d "$(sed -n 's/^ -- .*>  //p' cmake/changelog | head -n 1)" +%s
}
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || release_epoch)}
jobs=$(nproc)
for preset in native windows; do
    # A tree whose configure failed (or never ran) has no build.ninja.
    [ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
done
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/native/CMakeCache.txt)
out=build/packages
rm -rf "$out"
mkdir -p "$out"

(cd build/native && cpack -G DEB -B "$PWD/../packages/deb" >/dev/null)
mv "$out/deb/tolvane_${version}_amd64.deb" "$out/"
rm -rf "$out/deb"

# The zip from the Windows install rules, twice, to show it is reproducible.
zip_name=tolvane-${version}-win64
for n in 1 2; do
    staging=$out/staging$n/$zip_name
    cmake --install build/windows --prefix "$staging" --strip >/dev/null
    python3 cmake/make_zip.py "$staging" "$out/$zip_name.$n.zip"
done
cmp "$out/$zip_name.1.zip" "$out/$zip_name.2.zip" || { echo "package.sh: two zip builds differ" >&2; exit 1; }
mv "$out/$zip_name.1.zip" "$out/$zip_name.zip"
rm -rf "$out/$zip_name.2.zip" "$out"/staging1 "$out"/staging2

ls -l "$out"
if [ "$check" = 1 ]; then
    tests/package/check_packages.sh "$PWD" "$PWD/$out" "$version"
fi
