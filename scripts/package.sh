#!/usr/bin/env bash
# Builds what people install: dist/vellork_<version>_<arch>.deb from a fresh release build of
# this tree, and dist/vellork-<version>-windows.zip when a Windows build holding Vellork.exe
# and vellork-cli.exe is at hand (build-win/, or $VELLORK_WIN_BUILD_DIR).
# Prints the path of each package it made.
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -n 's/^project(Vellork VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
build_dir=$(realpath -m "${VELLORK_PKG_BUILD_DIR:-build-pkg}")
dist=$(realpath -m "${VELLORK_DIST_DIR:-dist}")
win_build=${VELLORK_WIN_BUILD_DIR:-build-win}
maintainer_changelog=packaging/debian/changelog

[ -n "$version" ] || { echo "package.sh: no project VERSION in CMakeLists.txt" >&2; exit 1; }
# The package's changelog must say what this version is; a forgotten entry would ship the
# previous version's notes under the new number.
logged=$(dpkg-parsechangelog -l "$maintainer_changelog" -S Version)
if [ "$logged" != "$version" ]; then
    echo "package.sh: $maintainer_changelog names version $logged, CMakeLists.txt $version;" \
        "add an entry for $version (dch -v $version)" >&2
    exit 1
fi
# Every file in the package carries the changelog's time, so the same tree gives the same tree.
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$maintainer_changelog" -S Timestamp)
export SOURCE_DATE_EPOCH

# Debian's hardening flags (stack protector, fortified functions, read-only relocations,
# immediate binding) on top of the release build. The programs find Qt where the system keeps
# it, so they carry no search path of their own.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DVELLORK_BUILD_TESTS=OFF -DVELLORK_BUILD_BENCH=OFF -DVELLORK_BUILD_UI=ON \
    -DCMAKE_SKIP_INSTALL_RPATH=ON \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)"

stage=$build_dir/deb
rm -rf "$stage"
DESTDIR=$stage cmake --install "$build_dir" >/dev/null
strip --remove-section=.comment --remove-section=.note "$stage"/usr/bin/*
gzip -9n "$stage"/usr/share/man/man1/*.1
doc=$stage/usr/share/doc/vellork
install -d "$doc"
install -m 644 packaging/debian/copyright "$doc/copyright"
# Vellork is packaged by its own makers (a native package), so its changelog is changelog.gz.
gzip -9nc "$maintainer_changelog" >"$doc/changelog.gz"
install -D -m 644 packaging/debian/lintian-overrides "$stage/usr/share/lintian/overrides/vellork"
find "$stage" -type d -exec chmod 755 {} +
find "$stage" -type f -exec chmod 644 {} +
chmod 755 "$stage"/usr/bin/*

# The libraries the programs link decide the dependencies, as dpkg-shlibdeps reads them.
shlib_dir=$(mktemp -d)
trap 'rm -rf "$shlib_dir"' EXIT
mkdir "$shlib_dir/debian"
install -d -m 755 "$stage/DEBIAN"
printf 'Source: vellork\n\nPackage: vellork\nArchitecture: any\n' >"$shlib_dir/debian/control"
depends=$(cd "$shlib_dir" && dpkg-shlibdeps -O "$stage"/usr/bin/* | sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "package.sh: dpkg-shlibdeps found no dependencies" >&2; exit 1; }

arch=$(dpkg --print-architecture)
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@DEPENDS@/$depends/" \
    -e "s/@SIZE@/$(du -sk "$stage" | cut -f1)/" packaging/debian/control.in >"$stage/DEBIAN/control"
(cd "$stage" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$stage/DEBIAN/md5sums"
chmod 644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums"
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

mkdir -p "$dist"
deb=$dist/vellork_${version}_${arch}.deb
dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
echo "$deb"

# The Windows programs are cross-built elsewhere; zip them with their notes when they exist.
exe_gui=$(find "$win_build" -name Vellork.exe -type f -print -quit 2>/dev/null || true)
exe_cli=$(find "$win_build" -name vellork-cli.exe -type f -print -quit 2>/dev/null || true)
if [ -n "$exe_gui" ] && [ -n "$exe_cli" ]; then
    zip_dir=$(mktemp -d)
    folder=$zip_dir/vellork-$version-windows
    mkdir "$folder"
    cp "$exe_gui" "$exe_cli" "$folder/"
    # Notepad still expects CR LF.
    sed 's/$/\r/' packaging/windows/README-windows.txt >"$folder/README-windows.txt"
    find "$folder" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
    zip_file=$dist/vellork-$version-windows.zip
    rm -f "$zip_file"
    (cd "$zip_dir" && zip -q -X -D -r "$zip_file" "vellork-$version-windows")
    rm -rf "$zip_dir"
    echo "$zip_file"
else
    echo "package.sh: no Windows build in $win_build/ (Vellork.exe and vellork-cli.exe);" \
        "the Windows zip was not made" >&2
fi
