#!/usr/bin/env bash
# Sets up a fresh machine, builds, and starts Vellork's window.
# Without a display it says how to go on and shows vellork-cli on a copy of a sample page.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
build_dir=${VELLORK_BUILD_DIR:-build}

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec "$build_dir/app/vellork"
fi

cat <<MSG
Vellork's window needs a graphical display, and none was found (DISPLAY is not set).
To go on:
  - start it inside a desktop session:      $build_dir/app/vellork
  - or under a virtual display:             xvfb-run -a $build_dir/app/vellork
  - or compress pages from the terminal:    $build_dir/app/vellork-cli PAGE.html...

Meanwhile, here is vellork-cli on a copy of a sample page:
MSG
work=$(mktemp -d)
cp scripts/sample.html "$work/"
"$build_dir/app/vellork-cli" "$work/sample.html"
echo "The page now reads:"
cat "$work/sample.html"
