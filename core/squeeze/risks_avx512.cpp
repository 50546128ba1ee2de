// The risk scanner's blocks with AVX-512: each mask of a block from one comparison of its 64
// bytes, kept in general registers, where the rules combine them. Compiled with -mavx512bw
// -mpclmul; run only where supported.

#include "risks_blocks.h"

// The tests build this kernel a second time over portable versions of these intrinsics, which
// they bring along instead.
#ifndef VELLORK_PORTABLE_INTRINSICS
#include <immintrin.h>
#endif

namespace vellork {

namespace {

// A byte spread over a whole vector once for all blocks: left to itself, the compiler builds
// each again in every block.
__m512i spread(char c) {
    __m512i v = _mm512_set1_epi8(c);
#ifndef VELLORK_PORTABLE_INTRINSICS
    asm("" : "+v"(v));
#endif
    return v;
}

struct Avx512Masks {
    const __m512i space = spread(' '), cr = spread('\r'), lf = spread('\n'), tab = spread('\t'),
                  lt = spread('<'), gt = spread('>'), dq = spread('"'), sq = spread('\''),
                  eq = spread('='), slash = spread('/'), bang = spread('!'), question = spread('?'),
                  formFeed = spread('\f'), case20 = spread(0x20), a = spread('a'),
                  letters = spread(26), p = spread('p'), r = spread('r'), s = spread('s'),
                  c = spread('c'), t = spread('t'), e = spread('e');

    RiskMasks operator()(const unsigned char* block) const {
        const __m512i bytes = _mm512_loadu_si512(block);
        const __m512i lowered = _mm512_or_si512(bytes, case20);
        const __m512i next = _mm512_or_si512(_mm512_loadu_si512(block + 1), case20);
        // Kept in general registers: the masks are combined there.
        const auto bits = [](auto mask) {
            Bits b = static_cast<Bits>(mask);
            asm("" : "+r"(b));
            return b;
        };
        const auto is = [](__m512i v, __m512i wanted) { return _mm512_cmpeq_epi8_mask(v, wanted); };
        const auto then = [](auto first, __m512i v, __m512i wanted) {
            return _mm512_mask_cmpeq_epi8_mask(first, v, wanted);
        };
        RiskMasks m;
        m.space = bits(is(bytes, space));
        m.cr = bits(is(bytes, cr));
        m.lf = bits(is(bytes, lf));
        m.blank = m.space | m.cr | m.lf | bits(is(bytes, tab));
        m.lt = bits(is(bytes, lt));
        m.gt = bits(is(bytes, gt));
        m.dq = bits(is(bytes, dq));
        m.sq = bits(is(bytes, sq));
        m.eq = bits(is(bytes, eq));
        m.slash = bits(is(bytes, slash));
        m.letter = bits(_mm512_cmplt_epu8_mask(_mm512_sub_epi8(lowered, a), letters));
        m.bangOrQuestion = bits(is(bytes, bang) | is(bytes, question));
        m.nameEnd = m.blank | m.slash | m.gt | bits(is(bytes, formFeed));
        const auto firstS = is(lowered, s);
        m.blockName = bits(then(is(lowered, p), next, r) | then(firstS, next, c) |
                           then(firstS, next, t) | then(is(lowered, t), next, e));
        return m;
    }
};

}  // namespace

const unsigned char* scanBlocksAvx512(const unsigned char* p, const unsigned char* end,
                                      RiskBlockState& state) {
    return scanBlocks(p, end, state, Avx512Masks{});
}

}  // namespace vellork
