// The risk scanner's kernel that runs on every processor, and the choice of kernel.

#include "risks_blocks.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vellork {

namespace {

#if defined(__SSE2__)  // every x86-64 processor: 16 bytes at a time
struct Sse2Masks {
    RiskMasks operator()(const unsigned char* block) const {
        RiskMasks m{};
        for (int k = 0; k < 64; k += 16) {
            const auto load = [&](int at) {
                return _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + k + at));
            };
            const __m128i x = load(0), case20 = _mm_set1_epi8(0x20);
            const __m128i lowered = _mm_or_si128(x, case20), next = _mm_or_si128(load(1), case20);
            const auto bits = [k](__m128i hit) {
                return Bits{static_cast<unsigned>(_mm_movemask_epi8(hit))} << k;
            };
            const auto equal = [](__m128i v, char c) {
                return _mm_cmpeq_epi8(v, _mm_set1_epi8(c));
            };
            const auto is = [&](char c) { return bits(equal(x, c)); };
            const auto both = [&](char first, char second) {
                return _mm_and_si128(equal(lowered, first), equal(next, second));
            };
            const __m128i fromA = _mm_sub_epi8(lowered, _mm_set1_epi8('a'));
            const Bits space = is(' '), cr = is('\r'), lf = is('\n');
            m.space |= space;
            m.cr |= cr;
            m.lf |= lf;
            m.blank |= space | cr | lf | is('\t');
            m.lt |= is('<');
            m.gt |= is('>');
            m.dq |= is('"');
            m.eq |= is('=');
            m.slash |= is('/');
            m.letter |= bits(_mm_cmpeq_epi8(_mm_min_epu8(fromA, _mm_set1_epi8(25)), fromA));
            m.rare |= bits(_mm_or_si128(_mm_or_si128(equal(x, '\''), equal(x, '!')),
                                        _mm_or_si128(equal(x, '?'), equal(x, '\f'))));
            m.blockName |= bits(_mm_or_si128(_mm_or_si128(both('p', 'r'), both('s', 'c')),
                                             _mm_or_si128(both('s', 't'), both('t', 'e'))));
        }
        return m;
    }
};
#else
// Elsewhere a byte at a time.
struct Bytes {
    RiskMasks operator()(const unsigned char* block) const {
        RiskMasks m{};
        for (int i = 0; i < 64; ++i) {
            const Bits bit = Bits{1} << i;
            const unsigned char c = block[i], lowered = c | 0x20, next = block[i + 1] | 0x20;
            m.space |= c == ' ' ? bit : 0;
            m.cr |= c == '\r' ? bit : 0;
            m.lf |= c == '\n' ? bit : 0;
            m.blank |= c == ' ' || c == '\t' || c == '\n' || c == '\r' ? bit : 0;
            m.lt |= c == '<' ? bit : 0;
            m.gt |= c == '>' ? bit : 0;
            m.dq |= c == '"' ? bit : 0;
            m.eq |= c == '=' ? bit : 0;
            m.slash |= c == '/' ? bit : 0;
            m.letter |= static_cast<unsigned char>(lowered - 'a') < 26 ? bit : 0;
            m.rare |= c == '\'' || c == '!' || c == '?' || c == '\f' ? bit : 0;
            const bool blockName = (lowered == 'p' && next == 'r') ||
                                   (lowered == 's' && (next == 'c' || next == 't')) ||
                                   (lowered == 't' && next == 'e');
            m.blockName |= blockName ? bit : 0;
        }
        return m;
    }
};
#endif

}  // namespace

const unsigned char* scanBlocksPortable(const unsigned char* p, const unsigned char* end,
                                        RiskBlockState& state) {
#if defined(__SSE2__)
    return scanBlocks(p, end, state, Sse2Masks{});
#else
    return scanBlocks(p, end, state, Bytes{});
#endif
}

RiskBlockKernel riskKernelFor(SqueezePath path) {
#if VELLORK_HAVE_X86_PATHS
    // The AVX2 kernel serves the AVX-512 path as well: an AVX-512 one, measured beside it, was
    // slower, since GCC then keeps the kernel's integers in mask registers. It also multiplies
    // without carries, for the parity of the quotes so far, and uses the bit instructions that
    // came with AVX2.
    if (path != SqueezePath::Scalar && squeezePathSupported(SqueezePath::Avx2) &&
        __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("bmi") &&
        __builtin_cpu_supports("bmi2"))
        return scanBlocksAvx2;
#else
    (void)path;
#endif
    return scanBlocksPortable;
}

}  // namespace vellork
