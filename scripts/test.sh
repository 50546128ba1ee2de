#!/usr/bin/env bash
# Sets up a fresh machine, builds, and runs the whole test suite: every test on the
# release build, every test again under AddressSanitizer and UndefinedBehaviorSanitizer,
# the Windows programs cross-built with MinGW-w64 and tested under Wine, the two windows
# compared side by side under Xvfb (scripts/compare-windows.sh), the Debian packages and the
# Windows zip built and checked, the package installed, run and removed again in a throwaway
# Debian root (scripts/package-test.sh), and a bounded fuzzing run of the squeeze
# (VELLORK_FUZZ_SECONDS, default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
# Each part's heading says how long the parts before it took, so that a slow part shows.
stage() { echo "== $1 (at ${SECONDS} s)"; }
scripts/setup.sh
scripts/build.sh
(cd "${VELLORK_BUILD_DIR:-build}" &&
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)" --timeout 600)

stage "again under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan --parallel "$(nproc)"
ctest --preset asan --parallel "$(nproc)" --timeout 900

stage "the Windows programs, cross-built with MinGW-w64 and tested under Wine"
cmake --preset windows >/dev/null
cmake --build --preset windows --parallel "$(nproc)"
if cmake/wine-run.sh "$PWD/build-win/wine" build-win/tests/core/squeeze/squeeze_tests.exe \
    --gtest_list_tests >/dev/null; then
    ctest --preset windows --parallel "$(nproc)"
    stage "the Qt window and the Win32 window compared, region by region, under Xvfb"
    scripts/compare-windows.sh
else
    echo "SKIPPED: Wine cannot start a Windows program on this machine, so the Windows tests did not run"
fi

stage "the Debian packages and the Windows zip: built, checked, installed, run and removed again"
scripts/package-test.sh

stage "fuzzing the squeeze"
scripts/fuzz.sh "${VELLORK_FUZZ_SECONDS:-60}"
echo "== done (at ${SECONDS} s)"
