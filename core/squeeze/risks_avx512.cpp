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

const unsigned char* scanBlocksAvx512(const unsigned char* p, const unsigned char* end,
                                      RiskBlockState& state) {
    return scanBlocks(p, end, state, [](const unsigned char* block) {
        const __m512i case20 = _mm512_set1_epi8(0x20);
        const __m512i bytes = _mm512_loadu_si512(block);
        const __m512i lowered = _mm512_or_si512(bytes, case20);
        const __m512i next = _mm512_or_si512(_mm512_loadu_si512(block + 1), case20);
        // Kept in general registers: the masks are combined there.
        const auto bits = [](auto mask) {
            Bits b = static_cast<Bits>(mask);
            asm("" : "+r"(b));
            return b;
        };
        const auto is = [](__m512i v, char c) {
            return _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(c));
        };
        const auto then = [](auto first, __m512i v, char c) {
            return _mm512_mask_cmpeq_epi8_mask(first, v, _mm512_set1_epi8(c));
        };
        RiskMasks m;
        m.space = bits(is(bytes, ' '));
        m.cr = bits(is(bytes, '\r'));
        m.lf = bits(is(bytes, '\n'));
        m.blank = m.space | m.cr | m.lf | bits(is(bytes, '\t'));
        m.lt = bits(is(bytes, '<'));
        m.gt = bits(is(bytes, '>'));
        m.dq = bits(is(bytes, '"'));
        m.sq = bits(is(bytes, '\''));
        m.eq = bits(is(bytes, '='));
        m.slash = bits(is(bytes, '/'));
        m.letter = bits(_mm512_cmplt_epu8_mask(_mm512_sub_epi8(lowered, _mm512_set1_epi8('a')),
                                               _mm512_set1_epi8(26)));
        m.bangOrQuestion = bits(is(bytes, '!') | is(bytes, '?'));
        m.nameEnd = m.blank | m.slash | m.gt | bits(is(bytes, '\f'));
        const auto s = is(lowered, 's');
        m.blockName = bits(then(is(lowered, 'p'), next, 'r') | then(s, next, 'c') |
                           then(s, next, 't') | then(is(lowered, 't'), next, 'e'));
        return m;
    });
}

}  // namespace vellork
