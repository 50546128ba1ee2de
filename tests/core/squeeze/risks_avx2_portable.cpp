// The scanner's AVX2 kernel built once more, over SIMDe's portable versions of its intrinsics,
// so that the tests and the fuzzer run it on every processor. The program never chooses it.

#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/x86/avx2.h>

#define VELLORK_PORTABLE_INTRINSICS 1
#define scanBlocksAvx2 scanBlocksAvx2Portable
#include "risks_avx2.cpp"
