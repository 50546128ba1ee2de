#!/usr/bin/env bash
# Makes the pages the README's screenshots compress: three sample pages and one longer .htm
# page, in a new temporary folder whose path it prints.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
for name in index about contact; do
    sed "s/A sample page/The $name page/" scripts/sample.html > "$work/$name.html"
done
cat scripts/sample.html scripts/sample.html scripts/sample.html > "$work/news.htm"
echo "$work"
