// The risk scanner's kernel that runs on every processor, and the choice of kernel.

#include "risks_blocks.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vellork {

const unsigned char* scanBlocksPortable(const unsigned char* p, const unsigned char* end,
                                        RiskBlockState& state) {
    return scanBlocks(p, end, state, [](const unsigned char* block) {
        RiskMasks m{};
#if defined(__SSE2__)  // every x86-64 processor: 16 bytes at a time
        for (int k = 0; k < 4; ++k) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * k));
            const __m128i lowered = _mm_or_si128(x, _mm_set1_epi8(0x20));
            const auto bits = [k](__m128i hit) {
                return Bits{static_cast<unsigned>(_mm_movemask_epi8(hit))} << (16 * k);
            };
            const auto is = [&](__m128i v, char c) {
                return bits(_mm_cmpeq_epi8(v, _mm_set1_epi8(c)));
            };
            const __m128i fromA = _mm_sub_epi8(lowered, _mm_set1_epi8('a'));
            const Bits space = is(x, ' '), cr = is(x, '\r'), lf = is(x, '\n');
            const Bits blank = space | cr | lf | is(x, '\t');
            const Bits slash = is(x, '/'), gt = is(x, '>');
            m.space |= space;
            m.cr |= cr;
            m.lf |= lf;
            m.blank |= blank;
            m.lt |= is(x, '<');
            m.gt |= gt;
            m.dq |= is(x, '"');
            m.sq |= is(x, '\'');
            m.eq |= is(x, '=');
            m.slash |= slash;
            m.letter |= bits(_mm_cmpeq_epi8(_mm_min_epu8(fromA, _mm_set1_epi8(25)), fromA));
            m.bangOrQuestion |= is(x, '!') | is(x, '?');
            m.nameEnd |= blank | slash | gt | is(x, '\f');
            const __m128i next =
                _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * k + 1)),
                             _mm_set1_epi8(0x20));
            const auto both = [&](char first, char second) {
                return is(lowered, first) & is(next, second);
            };
            m.blockName |= both('p', 'r') | both('s', 'c') | both('s', 't') | both('t', 'e');
        }
#else
        for (int i = 0; i < 64; ++i) {
            const Bits bit = Bits{1} << i;
            const unsigned char c = block[i], lowered = c | 0x20;
            const bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r';
            m.space |= c == ' ' ? bit : 0;
            m.cr |= c == '\r' ? bit : 0;
            m.lf |= c == '\n' ? bit : 0;
            m.blank |= blank ? bit : 0;
            m.lt |= c == '<' ? bit : 0;
            m.gt |= c == '>' ? bit : 0;
            m.dq |= c == '"' ? bit : 0;
            m.sq |= c == '\'' ? bit : 0;
            m.eq |= c == '=' ? bit : 0;
            m.slash |= c == '/' ? bit : 0;
            m.letter |= static_cast<unsigned char>(lowered - 'a') < 26 ? bit : 0;
            m.bangOrQuestion |= c == '!' || c == '?' ? bit : 0;
            m.nameEnd |= blank || c == '\f' || c == '/' || c == '>' ? bit : 0;
            const unsigned char next = block[i + 1] | 0x20;
            const bool blockName = (lowered == 'p' && next == 'r') ||
                                   (lowered == 's' && (next == 'c' || next == 't')) ||
                                   (lowered == 't' && next == 'e');
            m.blockName |= blockName ? bit : 0;
        }
#endif
        return m;
    });
}

RiskBlockKernel riskKernelFor(SqueezePath path) {
#if VELLORK_HAVE_X86_PATHS
    // The AVX2 kernel serves the AVX-512 path as well: an AVX-512 one, measured beside it, was
    // slower, since GCC then keeps the kernel's integers in mask registers. It also multiplies
    // without carries, for the parity of the quotes so far.
    if (path != SqueezePath::Scalar && squeezePathSupported(SqueezePath::Avx2) &&
        __builtin_cpu_supports("pclmul"))
        return scanBlocksAvx2;
#else
    (void)path;
#endif
    return scanBlocksPortable;
}

}  // namespace vellork
