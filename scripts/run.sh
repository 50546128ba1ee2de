#!/usr/bin/env bash
# Sets up a fresh machine, builds, and shows Vellork at work on a sample page
# copied to a temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
build_dir=${VELLORK_BUILD_DIR:-build}
work=$(mktemp -d)
cp scripts/sample.html "$work/"
echo "Sample page copied to $work/sample.html:"
"$build_dir/app/vellork-cli" "$work/sample.html"
echo "Result:"
cat "$work/sample.html"
