// The risk scanner's blocks with AVX2: each mask of a block from two comparisons of 32 bytes.
// Compiled with -mavx2 -mpclmul and the bit instructions of the same processors; run only where
// supported.

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
__m256i spread(char c) {
    __m256i v = _mm256_set1_epi8(c);
#ifndef VELLORK_PORTABLE_INTRINSICS
    asm("" : "+x"(v));
#endif
    return v;
}

struct Avx2Masks {
    const __m256i space = spread(' '), cr = spread('\r'), lf = spread('\n'), tab = spread('\t'),
                  lt = spread('<'), gt = spread('>'), dq = spread('"'), sq = spread('\''),
                  eq = spread('='), slash = spread('/'), bang = spread('!'), question = spread('?'),
                  formFeed = spread('\f'), case20 = spread(0x20), a = spread('a'),
                  lastLetter = spread(25), p = spread('p'), r = spread('r'), s = spread('s'),
                  c = spread('c'), t = spread('t'), e = spread('e');

    RiskMasks operator()(const unsigned char* block) const {
        const auto load = [block](int at) {
            return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + at));
        };
        const __m256i lo = load(0), hi = load(32);
        const __m256i loLower = _mm256_or_si256(lo, case20), hiLower = _mm256_or_si256(hi, case20);
        const __m256i loNext = _mm256_or_si256(load(1), case20);
        const __m256i hiNext = _mm256_or_si256(load(33), case20);
        const auto bits = [](__m256i low, __m256i high) {
            return static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
                   Bits{static_cast<std::uint32_t>(_mm256_movemask_epi8(high))} << 32;
        };
        const auto is = [&](__m256i wanted) {
            return bits(_mm256_cmpeq_epi8(lo, wanted), _mm256_cmpeq_epi8(hi, wanted));
        };
        // A letter is 'a' to 'z' once lowered: at most 25 from 'a', as unsigned bytes.
        const auto letters = [&](__m256i lowered) {
            const __m256i fromA = _mm256_sub_epi8(lowered, a);
            return _mm256_cmpeq_epi8(_mm256_min_epu8(fromA, lastLetter), fromA);
        };
        const auto rare = [&](__m256i x) {
            return _mm256_or_si256(
                _mm256_or_si256(_mm256_cmpeq_epi8(x, sq), _mm256_cmpeq_epi8(x, bang)),
                _mm256_or_si256(_mm256_cmpeq_epi8(x, question), _mm256_cmpeq_epi8(x, formFeed)));
        };
        // The first two letters of a block's name: each byte lowered beside the next one.
        const auto pairs = [&](__m256i lowered, __m256i next) {
            const auto both = [&](__m256i first, __m256i second) {
                return _mm256_and_si256(_mm256_cmpeq_epi8(lowered, first),
                                        _mm256_cmpeq_epi8(next, second));
            };
            return _mm256_or_si256(_mm256_or_si256(both(p, r), both(s, c)),
                                   _mm256_or_si256(both(s, t), both(t, e)));
        };
        RiskMasks m;
        m.space = is(space);
        m.cr = is(cr);
        m.lf = is(lf);
        m.blank = m.space | m.cr | m.lf | is(tab);
        m.lt = is(lt);
        m.gt = is(gt);
        m.dq = is(dq);
        m.eq = is(eq);
        m.slash = is(slash);
        m.letter = bits(letters(loLower), letters(hiLower));
        m.rare = bits(rare(lo), rare(hi));
        m.blockName = bits(pairs(loLower, loNext), pairs(hiLower, hiNext));
        return m;
    }
};

}  // namespace

const unsigned char* scanBlocksAvx2(const unsigned char* p, const unsigned char* end,
                                    RiskBlockState& state) {
    return scanBlocks(p, end, state, Avx2Masks{});
}

}  // namespace vellork
