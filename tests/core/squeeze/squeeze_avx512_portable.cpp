// The AVX-512 VBMI2 kernel built once more, over SIMDe's portable versions of its intrinsics,
// so that the tests and the fuzzer run it on every processor. The program never chooses it.

#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/x86/avx512.h>

#include <cstdint>

#ifndef _mm512_maskz_compress_epi8
// SIMDe 0.7 has no VBMI2 byte compress. As the instruction does: the bytes whose mask bit is
// set, packed in order to the bottom, zeros above them.
inline simde__m512i portableMaskzCompressEpi8(simde__mmask64 keep, simde__m512i bytes) {
    const simde__m512i_private in = simde__m512i_to_private(bytes);
    simde__m512i_private out = {};
    int packed = 0;
    for (int i = 0; i < 64; ++i)
        if ((keep >> i) & 1) out.i8[packed++] = in.i8[i];
    return simde__m512i_from_private(out);
}
#define _mm512_maskz_compress_epi8(keep, bytes) portableMaskzCompressEpi8((keep), (bytes))
#endif

#define VELLORK_PORTABLE_INTRINSICS 1
#define squeezeBlocksAvx512Vbmi2 squeezeBlocksAvx512Vbmi2Portable
#include "squeeze_avx512.cpp"
