#!/usr/bin/env bash
# throwaway-root-test.sh DEB
# Installs the Debian package with apt in a throwaway Debian root, as a user would, runs the
# installed vellork-cli on a page and the installed window under Xvfb there, then removes it
# with everything its installation pulled in. The root is unpacked from a base system made once
# with mmdebstrap from this machine's Debian sources and kept, with the packages apt fetched
# for it, in build-pkg/chroot/ ($VELLORK_CHROOT_CACHE); delete that folder to start afresh. The
# root's mounts live in a mount namespace of their own, so nothing stays mounted when the test
# ends, however it ends. This machine's own packages are not touched: dpkg's lock is held while
# the test runs, and the package list is the same afterwards, or the test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(realpath "$1")
cache=$(realpath -m "${VELLORK_CHROOT_CACHE:-build-pkg/chroot}")
fail() {
    echo "throwaway root: $*" >&2
    exit 1
}

# The base system: what every Debian installation has, and the tools the test drives the
# window with. Made again when this machine's sources, their apt settings or this list change,
# and after a month, so that apt's lists of packages stay close to the archive's.
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
tools=xvfb,xauth,xdotool
mkdir -p "$cache/archives"
sources=$cache/debian.sources apt_conf=$cache/apt.conf
# Only this release's Debian entries of this machine's sources: other archives may need keys
# the base system does not have.
for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$list" ] && grep -E "^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?[^[:space:]]+[[:space:]]+$codename(-updates|-security)?[[:space:]]" "$list"
done >"$sources.new" || true
for list in /etc/apt/sources.list.d/*.sources; do
    [ -f "$list" ] && awk -v RS= -v ORS='\n\n' -v release="$codename" \
        '$0 ~ "(^|\n)Suites:([ \t]+[^ \t\n]+)*[ \t]+" release "(-updates|-security)?([ \t\n]|$)"' "$list"
done >>"$sources.new" || true
[ -s "$sources.new" ] || fail "this machine's apt sources name no Debian $codename archive"
mv "$sources.new" "$sources"
# The machine's own ways of reaching the archive (a proxy, a snapshot's dates) hold in the root.
apt-config dump Acquire::http::Proxy Acquire::https::Proxy Acquire::Check-Valid-Until \
    Acquire::Check-Date >"$apt_conf"
# apt's lists stay in the base, so that later runs find the package's dependencies without
# asking the archive again; dpkg need not sync what it unpacks into a root that is thrown away.
options=(--quiet --mode=root --format=tar --variant=minbase --include="$tools" --aptopt="$apt_conf"
    --customize-hook="cp '$apt_conf' \"\$1/etc/apt/apt.conf.d/50throwaway-root\""
    --customize-hook='echo "DPkg::Options:: \"--force-unsafe-io\";" >"$1/etc/apt/apt.conf.d/50unsafe-io"'
    --skip=cleanup/apt/lists)
key=$(cat "$sources" "$apt_conf" <(printf '%s\n' "$codename" "${options[@]}") | sha256sum | cut -c1-16)
base=$cache/base-$key.tar
find "$cache" -maxdepth 1 -name 'base-*.tar' -mtime +30 -delete
if [ ! -f "$base" ]; then
    echo "   making the base system once (mmdebstrap $codename, kept as $base)"
    rm -f "$cache"/base-*.tar "$cache"/base-*.tar.new
    mmdebstrap "${options[@]}" "$codename" "$base.new" "$sources" ||
        fail "mmdebstrap could not make the base system"
    mv "$base.new" "$base"
fi

root=$(mktemp -d "$cache/root.XXXXXX")
trap 'rm -rf "$root"' EXIT
tar -xf "$base" -C "$root"
cp "$deb" "$root/tmp/"
cat /etc/resolv.conf >"$root/etc/resolv.conf"

# Inside the root: install, use, remove, and compare its package list with the one before.
cat >"$root/tmp/test.sh" <<'EOF'
set -eu
export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8 HOME=/root
fail() { echo "throwaway root: $*" >&2; exit 1; }
packages() { dpkg-query -W -f '${Package}:${Architecture} ${Version} ${Status}\n' | sort; }
packages >/tmp/before
start=$(date +%s)
deb=/tmp/$(basename /tmp/vellork_*.deb)
# What the package depends on must be enough for both programs; what Qt recommends besides (a
# GTK theme, and with it half a desktop) is left out. Lists older than the package's
# dependencies are brought up to date once.
install() { apt-get install -y -q --no-install-recommends "$deb" >>/tmp/apt.log 2>&1; }
install || { apt-get update -q >>/tmp/apt.log 2>&1 && install; } ||
    { cat /tmp/apt.log; fail "apt-get could not install $deb"; }
version=$(dpkg-query -W -f '${Version}' vellork)
echo "   installed with apt ($(($(packages | wc -l) - $(wc -l </tmp/before))) packages) in $(($(date +%s) - start)) s"
start=$(date +%s)
cd /tmp
printf '<p>\r\n\t  hello   world  \r\n\r\n</p>\r\n' >page.html
out=$(vellork-cli page.html)
[ "$out" = "$(printf 'page.html\t33\t36.36 %%\t21')" ] || fail "vellork-cli printed '$out'"
[ "$(cat page.html)" = "$(printf '<p> hello world</p>\r\n')" ] || fail "vellork-cli left the page as: $(od -c page.html)"
[ "$(vellork-cli --version)" = "vellork-cli $version" ] || fail "vellork-cli --version is not $version"
status=0
vellork-cli missing.html >/dev/null 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "vellork-cli on a missing file exited with $status"
# The window must appear under its title within a generous time on a loaded machine.
xvfb-run -a sh -c '
    vellork & pid=$!
    timeout 60 xdotool search --sync --onlyvisible --name "^Vellork\$" >/dev/null; found=$?
    kill $pid 2>/dev/null; wait $pid 2>/dev/null
    exit $found' || fail "the installed vellork showed no window titled Vellork"
echo "   used in $(($(date +%s) - start)) s"
start=$(date +%s)
# Whatever came with it goes too, also what only something there already recommends.
apt-get purge -y -q --autoremove -o APT::AutoRemove::RecommendsImportant=false vellork >>/tmp/apt.log 2>&1 || { cat /tmp/apt.log; fail "apt-get could not remove vellork"; }
packages >/tmp/after
echo "   removed with apt in $(($(date +%s) - start)) s"
diff /tmp/before /tmp/after || fail "removing vellork did not give back the packages there were before"
left=$(find / -xdev -path /tmp -prune -o -name '*vellork*' -print)
[ -z "$left" ] || fail "left behind after removal: $left"
EOF

# dpkg's lock, taken as apt takes it, keeps this machine's packages as they are meanwhile.
start=$(date +%s)
python3 -c '
import fcntl, os, sys
lock = os.open("/var/lib/dpkg/lock-frontend", os.O_RDWR | os.O_CREAT, 0o640)
os.set_inheritable(lock, True)
fcntl.lockf(lock, fcntl.LOCK_EX)
os.execvp(sys.argv[1], sys.argv[1:])' bash -c '
    set -euo pipefail
    before=$(dpkg-query -W -f "\${Package}:\${Architecture} \${Version} \${Status}\n")
    unshare --mount --propagation private --pid --fork --mount-proc="$1/proc" sh -c "
        mount --rbind /dev \"\$1/dev\" && mount --bind \"\$2\" \"\$1/var/cache/apt/archives\" &&
        exec chroot \"\$1\" /bin/sh /tmp/test.sh" sh "$1" "$2"
    [ "$before" = "$(dpkg-query -W -f "\${Package}:\${Architecture} \${Version} \${Status}\n")" ] ||
        { echo "throwaway root: this machine'"'"'s packages changed during the test" >&2; exit 1; }
' bash "$root" "$cache/archives"
echo "   installed, used and removed again in $(($(date +%s) - start)) s; this machine's packages unchanged"
