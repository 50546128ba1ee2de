#!/usr/bin/env bash
# Builds the packages and checks them as a user meets them: the Debian package's contents,
# lintian, the AppStream metadata and the manual pages, then installs it with apt on this
# machine, runs the installed vellork-cli on a page and the installed window under Xvfb, and
# removes it again together with anything its installation pulled in. Needs root (or sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
apt_get=("${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900)

fail() {
    echo "package check: $*" >&2
    exit 1
}

made=$(scripts/package.sh)
deb=$(grep '\.deb$' <<<"$made")
zip=$(grep '\.zip$' <<<"$made" || true)
version=$(dpkg-deb -f "$deb" Version)
work=$(mktemp -d)
cleanup_steps=("rm -rf '$work'")
cleanup() {
    local i
    for ((i = ${#cleanup_steps[@]} - 1; i >= 0; i--)); do eval "${cleanup_steps[i]}" || true; done
}
trap cleanup EXIT

echo "-- contents of $deb"
dpkg-deb -c "$deb" | awk '{print $1, $6}' >"$work/contents"
for entry in \
    "-rwxr-xr-x ./usr/bin/vellork" "-rwxr-xr-x ./usr/bin/vellork-cli" \
    "-rw-r--r-- ./usr/share/applications/io.github.vellork.desktop" \
    "-rw-r--r-- ./usr/share/icons/hicolor/16x16/apps/io.github.vellork.png" \
    "-rw-r--r-- ./usr/share/icons/hicolor/32x32/apps/io.github.vellork.png" \
    "-rw-r--r-- ./usr/share/metainfo/io.github.vellork.metainfo.xml" \
    "-rw-r--r-- ./usr/share/man/man1/vellork.1.gz" \
    "-rw-r--r-- ./usr/share/man/man1/vellork-cli.1.gz" \
    "-rw-r--r-- ./usr/share/doc/vellork/copyright" \
    "-rw-r--r-- ./usr/share/doc/vellork/changelog.gz"; do
    grep -qxF -- "$entry" "$work/contents" || fail "the package lacks $entry"
done
if dpkg-deb -c "$deb" | awk '{print $2}' | grep -v '^root/root$'; then
    fail "files in the package are not owned by root"
fi
dpkg-deb -x "$deb" "$work/tree"
for program in vellork vellork-cli; do
    file "$work/tree/usr/bin/$program" | grep -q ', stripped' || fail "$program is not stripped"
done
# apt installs exactly what the package names: each library the programs link must be there.
depends=", $(dpkg-deb -f "$deb" Depends),"
owner_of() {  # the package that holds a library, whichever side of /usr it is listed on
    local path
    for path in "$1" "/usr$1" "${1#/usr}"; do
        dpkg -S "$path" 2>/dev/null | awk -F: 'NR == 1 {print $1}' | grep . && return 0
    done
    return 1
}
for program in vellork vellork-cli; do
    binary=$work/tree/usr/bin/$program
    for library in $(objdump -p "$binary" | awk '$1 == "NEEDED" {print $2}'); do
        path=$(ldd "$binary" | awk -v lib="$library" '$1 == lib && $2 == "=>" {print $3}')
        [ -n "$path" ] || path=$(ldd "$binary" | awk -v lib="$library" '$1 ~ "/" lib "$" {print $1}')
        owner=$(owner_of "$path") || fail "$library, linked by $program, belongs to no package"
        [[ "$depends" =~ ,\ "$owner"[\ ,] ]] ||
            fail "$program links $library from $owner, which the package does not depend on"
    done
done

echo "-- lintian"
status=0
lintian --fail-on error,warning "$deb" >"$work/lintian" 2>&1 || status=$?
grep -v 'running with root privileges' "$work/lintian" || true
[ "$status" -eq 0 ] || fail "lintian reports errors or warnings"

echo "-- AppStream metadata and desktop entry"
appstreamcli validate --no-net --pedantic "$work/tree/usr/share/metainfo/io.github.vellork.metainfo.xml"
desktop-file-validate "$work/tree/usr/share/applications/io.github.vellork.desktop"

echo "-- manual pages"
for page in vellork vellork-cli; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l \
        "$work/tree/usr/share/man/man1/$page.1.gz" 2>&1 >"$work/$page.txt")
    [ -z "$warnings" ] || fail "groff warns about $page(1): $warnings"
done
# Every option the program's own help names has its entry in the manual.
sed -n '/^OPTIONS$/,/^[A-Z]/p' "$work/vellork-cli.txt" | grep -E '^ {7}-' >"$work/option-entries"
options=$("$work/tree/usr/bin/vellork-cli" --help | grep -oE '^ +-[^ ]+(, --[a-z-]+)?' |
    tr ',' '\n' | tr -d ' ')
[ -n "$options" ] || fail "vellork-cli --help names no options"
for option in $options; do
    grep -qE -- "(^| )$option(,| |$)" "$work/option-entries" ||
        fail "vellork-cli(1) has no entry for $option"
done

if [ -n "$zip" ]; then
    echo "-- $zip"
    python3 -m zipfile -l "$zip" | awk 'NR > 1 {print $1}' | sort >"$work/zip-contents"
    printf '%s\n' "vellork-$version-windows/README-windows.txt" \
        "vellork-$version-windows/Vellork.exe" "vellork-$version-windows/vellork-cli.exe" |
        sort | diff - "$work/zip-contents" || fail "the Windows zip holds other files"
    python3 -m zipfile -e "$zip" "$work/zip"
    for exe in Vellork.exe vellork-cli.exe; do
        file "$work/zip/vellork-$version-windows/$exe" | grep -q 'PE32' ||
            fail "$exe in the zip is not a Windows program"
    done
fi

echo "-- installing with apt"
is_installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
# Sessions that run this check at the same time would install and remove the same package.
exec {lock}>/tmp/vellork-package-test.lock
flock -w 1800 "$lock" || fail "another package check holds the lock"
if is_installed vellork; then
    fail "vellork is already installed on this machine; remove it first (apt-get remove vellork)"
fi
# Only what this installation brings is removed afterwards: apt names it before it starts,
# and packages other sessions install meanwhile are left alone.
new_packages=()
remove_again() {
    local still=() package
    for package in "${new_packages[@]}"; do is_installed "$package" && still+=("$package"); done
    [ ${#still[@]} -eq 0 ] || "${apt_get[@]}" remove -y -qq --purge "${still[@]}" >/dev/null
}
cleanup_steps+=('remove_again')
status=0
"${apt_get[@]}" install -y "$(realpath "$deb")" >"$work/apt.log" 2>&1 || status=$?
mapfile -t new_packages < <(sed -n '/^The following NEW packages will be installed:/,/^[^ ]/p' \
    "$work/apt.log" | grep '^ ' | tr ' ' '\n' | grep .)
[ "$status" -eq 0 ] || { cat "$work/apt.log"; fail "apt-get could not install $deb"; }
printf '   installed: %s\n' "${new_packages[*]}"
is_installed vellork || fail "vellork is not installed"
[[ " ${new_packages[*]} " == *" vellork "* ]] || fail "apt did not report vellork as new"

echo "-- the installed vellork-cli"
page_dir=$(mktemp -d)
cleanup_steps+=("rm -rf '$page_dir'")
printf '<p>\r\n\t  hello   world  \r\n\r\n</p>\r\n' >"$page_dir/page.html"
out=$(cd "$page_dir" && LC_ALL=C /usr/bin/vellork-cli page.html)
[ "$out" = "$(printf 'page.html\t33\t36.36 %%\t21')" ] || fail "vellork-cli printed '$out'"
[ "$(cat "$page_dir/page.html")" = "$(printf '<p> hello world</p>\r\n')" ] ||
    fail "vellork-cli left the page as: $(od -c "$page_dir/page.html")"
[ "$(/usr/bin/vellork-cli --version)" = "vellork-cli $version" ] || fail "wrong version"
status=0
/usr/bin/vellork-cli "$page_dir/missing.html" >/dev/null 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "vellork-cli on a missing file exited with $status"
man -w vellork-cli >/dev/null || fail "man does not find vellork-cli(1)"

echo "-- the installed window under Xvfb"
# The window must appear under its title within a generous time on a loaded machine.
xvfb-run -a sh -c '
    /usr/bin/vellork & pid=$!
    timeout 60 xdotool search --sync --onlyvisible --name "^Vellork\$" >/dev/null; found=$?
    kill $pid 2>/dev/null; wait $pid 2>/dev/null
    exit $found' || fail "the installed vellork showed no window titled Vellork"

echo "-- removing vellork and what it pulled in"
remove_again
for package in "${new_packages[@]}"; do
    ! is_installed "$package" || fail "$package is still installed"
done
[ ! -e /usr/bin/vellork ] || fail "/usr/bin/vellork is still there after removal"
echo "package check passed"
