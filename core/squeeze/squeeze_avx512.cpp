// The squeeze with AVX-512 VBMI2: compare 64 bytes at once and compress the kept ones with a
// single instruction. Compiled with -mavx512bw -mavx512vbmi2; run only where supported.

#include "squeeze_blocks.h"
#include "squeeze_paths.h"

// The tests build this kernel a second time over portable versions of these intrinsics, which
// they bring along instead.
#ifndef VELLORK_PORTABLE_INTRINSICS
#include <immintrin.h>
#endif

namespace vellork {

std::size_t squeezeBlocksAvx512Vbmi2(const unsigned char* in, std::size_t blocks, char* out,
                                     SqueezeState& state) {
    char* o = out;
    Carry carry(state);
    const __m512i space = _mm512_set1_epi8(' '), cr = _mm512_set1_epi8('\r'),
                  lf = _mm512_set1_epi8('\n'), tab = _mm512_set1_epi8('\t');
    for (std::size_t b = 0; b < blocks; ++b, in += 64) {
        const __m512i bytes = _mm512_loadu_si512(in);
        const ByteMasks masks{_mm512_cmpeq_epi8_mask(bytes, space),
                              _mm512_cmpeq_epi8_mask(bytes, cr), _mm512_cmpeq_epi8_mask(bytes, lf),
                              _mm512_cmpeq_epi8_mask(bytes, tab)};
        const KeptBytes kept = resolveBlock(masks, carry);
        *o = ' ';  // kept only when a space is held over from the block before
        o += kept.leadingSpace;
        // A full store of the packed bytes is faster than a masked compressing store.
        _mm512_storeu_si512(o, _mm512_maskz_compress_epi8(kept.keep, bytes));
        o += __builtin_popcountll(kept.keep);
    }
    carry.store(state);
    return static_cast<std::size_t>(o - out);
}

}  // namespace vellork
