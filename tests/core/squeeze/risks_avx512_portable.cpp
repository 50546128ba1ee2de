// The scanner's AVX-512 kernel built once more, over SIMDe's portable versions of its
// intrinsics, so that the tests and the fuzzer run it on every processor. The program never
// chooses it.

#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/x86/avx512.h>

#define VELLORK_PORTABLE_INTRINSICS 1
#define scanBlocksAvx512 scanBlocksAvx512Portable
#include "risks_avx512.cpp"
