#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, run and test Vellork.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
    fonts-wine xvfb xauth xdotool imagemagick desktop-file-utils
    binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev g++-mingw-w64-x86-64-posix wine wine64 icoutils
    libacl1-dev libattr1-dev acl attr e2fsprogs dosfstools exfat-fuse exfatprogs fuse3 xfsprogs
    libsimde-dev locales-all
    dpkg-dev lintian appstream zip x11-utils
    debhelper appstream-compose librsvg2-bin mmdebstrap
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=900 update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}"
fi
