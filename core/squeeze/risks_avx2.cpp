// The risk scanner's blocks with AVX2: each mask of a block from two comparisons of 32 bytes.
// Compiled with -mavx2 -mpclmul; run only where supported.

#include "risks_blocks.h"

#include <immintrin.h>

namespace vellork {

const unsigned char* scanBlocksAvx2(const unsigned char* p, const unsigned char* end,
                                    RiskBlockState& state) {
    return scanBlocks(p, end, state, [](const unsigned char* block) {
        const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block));
        const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 32));
        const auto bits = [](__m256i low, __m256i high) {
            return static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
                   Bits{static_cast<std::uint32_t>(_mm256_movemask_epi8(high))} << 32;
        };
        const auto is = [&](char c) {
            const __m256i wanted = _mm256_set1_epi8(c);
            return bits(_mm256_cmpeq_epi8(lo, wanted), _mm256_cmpeq_epi8(hi, wanted));
        };
        const __m256i case20 = _mm256_set1_epi8(0x20);
        const __m256i loLower = _mm256_or_si256(lo, case20), hiLower = _mm256_or_si256(hi, case20);
        // A letter is 'a' to 'z' once lowered: below 26 from 'a', as unsigned bytes.
        const auto letters = [](__m256i lowered) {
            const __m256i fromA = _mm256_sub_epi8(lowered, _mm256_set1_epi8('a'));
            return _mm256_cmpeq_epi8(_mm256_min_epu8(fromA, _mm256_set1_epi8(25)), fromA);
        };
        RiskMasks m;
        m.space = is(' ');
        m.cr = is('\r');
        m.lf = is('\n');
        m.blank = m.space | m.cr | m.lf | is('\t');
        m.lt = is('<');
        m.gt = is('>');
        m.dq = is('"');
        m.sq = is('\'');
        m.eq = is('=');
        m.slash = is('/');
        m.letter = bits(letters(loLower), letters(hiLower));
        m.bangOrQuestion = is('!') | is('?');
        m.nameEnd = m.blank | m.slash | m.gt | is('\f');
        // The first two letters of a block's name: each byte lowered beside the next one.
        const __m256i loNext = _mm256_or_si256(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 1)), case20);
        const __m256i hiNext = _mm256_or_si256(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 33)), case20);
        const auto pairs = [](__m256i lowered, __m256i next) {
            const auto is = [](__m256i v, char c) {
                return _mm256_cmpeq_epi8(v, _mm256_set1_epi8(c));
            };
            const __m256i s = is(lowered, 's');
            return _mm256_or_si256(
                _mm256_or_si256(_mm256_and_si256(is(lowered, 'p'), is(next, 'r')),
                                _mm256_and_si256(s, _mm256_or_si256(is(next, 'c'), is(next, 't')))),
                _mm256_and_si256(is(lowered, 't'), is(next, 'e')));
        };
        m.blockName = bits(pairs(loLower, loNext), pairs(hiLower, hiNext));
        return m;
    });
}

}  // namespace vellork
