#!/usr/bin/env bash
# Builds the squeeze's and the risk scanner's fuzz target with clang's libFuzzer (with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs it for a bounded time over the seeds in fuzz/corpus.
# Usage: scripts/fuzz.sh [SECONDS]   (default 60). Skipped where clang is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
if ! command -v clang++ >/dev/null; then
    echo "fuzz: clang++ is not installed; skipped"
    exit 0
fi
out=build-fuzz
mkdir -p "$out/found"
flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -Icore/squeeze -Itests/common -Itests/core/squeeze
       -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all)
objects=("$out/squeezer.o" "$out/risks.o" "$out/risks-blocks.o" "$out/avx512-portable.o"
         "$out/risks-avx2-portable.o")
clang++ "${flags[@]}" -c core/squeeze/squeezer.cpp -o "$out/squeezer.o"
clang++ "${flags[@]}" -c core/squeeze/risks.cpp -o "$out/risks.o"
clang++ "${flags[@]}" -c core/squeeze/risks_blocks.cpp -o "$out/risks-blocks.o"
# The VBMI2 squeeze and the AVX2 scanner over SIMDe's portable intrinsics, which this processor
# can run whatever it has.
clang++ "${flags[@]}" -Wno-psabi -c tests/core/squeeze/squeeze_avx512_portable.cpp -o "$out/avx512-portable.o"
clang++ "${flags[@]}" -Wno-psabi -c tests/core/squeeze/risks_avx2_portable.cpp \
    -o "$out/risks-avx2-portable.o"
case "$(uname -m)" in
    x86_64 | amd64)
        clang++ "${flags[@]}" -mavx2 -c core/squeeze/squeeze_avx2.cpp -o "$out/avx2.o"
        clang++ "${flags[@]}" -mavx512f -mavx512bw -mavx512vbmi2 -mpopcnt \
            -c core/squeeze/squeeze_avx512.cpp -o "$out/avx512.o"
        clang++ "${flags[@]}" -mavx2 -mpclmul -mpopcnt -mbmi -mbmi2 -c core/squeeze/risks_avx2.cpp \
            -o "$out/risks-avx2.o"
        objects+=("$out/avx2.o" "$out/avx512.o" "$out/risks-avx2.o")
        ;;
esac
clang++ "${flags[@]/fuzzer-no-link/fuzzer}" fuzz/squeeze_fuzz.cpp "${objects[@]}" -o "$out/squeeze_fuzz"

# New finds go to a scratch folder; the committed seeds are only read. The dictionary brings the
# markup the scanner reads differently.
"$out/squeeze_fuzz" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 -dict=fuzz/html.dict \
    -artifact_prefix="$out/" "$out/found" fuzz/corpus 2>"$out/log" || { tail -40 "$out/log"; exit 1; }
runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$out/log" | grep -o '[0-9]*$')
echo "fuzz: $runs inputs in ${seconds}s, every squeeze path (and the portable VBMI2 build) equal to the literal steps, every scanner kernel (and the portable AVX2 build) reporting what the rules report byte by byte, for every cut"
