#!/usr/bin/env bash
# Sets up a fresh machine, builds, and runs the whole test suite: every test on the
# release build, every test again under AddressSanitizer and UndefinedBehaviorSanitizer,
# the Debian package built, checked, installed, run and removed again (scripts/package-test.sh),
# and a bounded fuzzing run of the squeeze (VELLORK_FUZZ_SECONDS, default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
(cd "${VELLORK_BUILD_DIR:-build}" &&
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)" --timeout 600)

echo "== again under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan --parallel "$(nproc)"
ctest --preset asan --parallel "$(nproc)" --timeout 900

echo "== the Debian package: built, checked, installed, run and removed again"
scripts/package-test.sh

echo "== fuzzing the squeeze"
scripts/fuzz.sh "${VELLORK_FUZZ_SECONDS:-60}"
