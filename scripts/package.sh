#!/usr/bin/env bash
# Makes what people install, from this source tree, into dist/:
#   vellork_<version>_<arch>.deb and vellork-dbgsym_<version>_<arch>.deb, built the Debian way
#     (dpkg-buildpackage over debian/, in a copy of the tree under build-pkg/deb/, where the
#     source package vellork_<version>.dsc is left too), and
#   vellork-<version>-windows.zip: Vellork.exe and vellork-cli.exe, cross-built here with
#     MinGW-w64 (the programs only, under build-pkg/win/), with their notes, the licence and
#     the notices of the runtime code linked into them.
# Installs what it needs first (scripts/setup.sh). Prints the path of each file it made; stops
# with the reason when it cannot make one of them.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath -m "${VELLORK_PKG_BUILD_DIR:-build-pkg}")
dist=$(realpath -m "${VELLORK_DIST_DIR:-dist}")
jobs=${VELLORK_JOBS:-$(nproc)}
fail() {
    echo "package.sh: $*" >&2
    exit 1
}
# A failed step's command and the end of its log, then the reason.
run_logged() {  # log what command...
    local log=$1 what=$2
    shift 2
    if ! "$@" >"$log" 2>&1; then
        tail -n 40 "$log" >&2
        fail "$what failed (the whole log is $log)"
    fi
}

scripts/setup.sh >&2
version=$(sed -n 's/^project(Vellork VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "CMakeLists.txt names no project VERSION"
command -v git >/dev/null && git rev-parse --is-inside-work-tree >/dev/null 2>&1 ||
    fail "this is not a git checkout; the package is made from the files git knows"
mkdir -p "$build" "$dist"

# The Debian packages, from a copy of the tree's files (committed or not, but none that git
# ignores), so that the build sees neither this tree's build folders nor leaves anything in it.
# dpkg-buildpackage takes the packages' time from debian/changelog and builds with Debian's
# reproducible-build flags, so the same sources give the same packages in any folder.
deb_build=$build/deb
src=$deb_build/vellork-$version
rm -rf "$deb_build"
mkdir -p "$src"
git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
    tar --null -T - -cf - | tar -xf - -C "$src"
echo "package.sh: building the Debian packages in $src" >&2
(cd "$src" && run_logged "$deb_build/build.log" "dpkg-buildpackage (the Debian packages)" \
    env DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:+$DEB_BUILD_OPTIONS }parallel=$jobs" \
    dpkg-buildpackage -us -uc)
arch=$(dpkg --print-architecture)
deb_version=$(dpkg-parsechangelog -l debian/changelog -S Version)
for package in vellork vellork-dbgsym; do
    deb=$deb_build/${package}_${deb_version}_$arch.deb
    [ -f "$deb" ] || fail "dpkg-buildpackage made no $(basename "$deb")"
    cp "$deb" "$dist/"
    echo "$dist/$(basename "$deb")"
done

# The Windows programs, freshly built for this version (never an older .exe lying about).
win_build=$build/win
echo "package.sh: cross-building Vellork.exe and vellork-cli.exe in $win_build" >&2
run_logged "$build/win-configure.log" "configuring the Windows build" \
    cmake -S . -B "$win_build" -G Ninja --toolchain "$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DVELLORK_BUILD_UI=OFF -DVELLORK_BUILD_TESTS=OFF \
    -DVELLORK_BUILD_BENCH=OFF
run_logged "$build/win-build.log" "building the Windows programs" \
    cmake --build "$win_build" --target Vellork vellork-cli --parallel "$jobs"

# The zip holds one folder; its texts have Windows line ends for Notepad, and every entry the
# changelog's time in UTC and a fixed order, so the same programs give the same zip.
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l debian/changelog -S Timestamp)
name=vellork-$version-windows
stage=$build/zip
rm -rf "$stage"
mkdir -p "$stage/$name"
cp "$win_build/app/Vellork.exe" "$win_build/app/vellork-cli.exe" "$stage/$name/"
for text in packaging/windows/README-windows.txt LICENSE packaging/windows/THIRD-PARTY-NOTICES.txt; do
    sed 's/$/\r/' "$text" >"$stage/$name/$(basename "$text")"
done
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
zip_file=$dist/$name.zip
rm -f "$zip_file"
(cd "$stage" && find "$name" -type f | LC_ALL=C sort | TZ=UTC zip -q -X -D "$zip_file" -@) ||
    fail "zip could not make $zip_file"
echo "$zip_file"
