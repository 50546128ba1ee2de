// The squeeze with AVX2: compare 64 bytes at once, then pack the kept bytes eight at a time
// with a byte shuffle chosen by their mask. Compiled with -mavx2; run only where supported.

#include "squeeze_blocks.h"
#include "squeeze_paths.h"

#include <immintrin.h>

namespace vellork {

namespace {

// For each 8-bit mask: the positions of its set bits, packed to the front.
struct PackTable {
    alignas(16) unsigned char shuffle[256][8];
    unsigned char count[256];

    constexpr PackTable() : shuffle{}, count{} {
        for (int mask = 0; mask < 256; ++mask) {
            int n = 0;
            for (int bit = 0; bit < 8; ++bit)
                if (mask & (1 << bit)) shuffle[mask][n++] = static_cast<unsigned char>(bit);
            for (int rest = n; rest < 8; ++rest) shuffle[mask][rest] = 0x80;
            count[mask] = static_cast<unsigned char>(n);
        }
    }
};
constexpr PackTable kPack;

inline std::uint64_t equalMask(__m256i lo, __m256i hi, char byte) {
    const __m256i wanted = _mm256_set1_epi8(byte);
    const auto low =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(lo, wanted)));
    const auto high =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(hi, wanted)));
    return low | (std::uint64_t{high} << 32);
}

}  // namespace

std::size_t squeezeBlocksAvx2(const unsigned char* in, std::size_t blocks, char* out,
                              SqueezeState& state) {
    char* o = out;
    for (std::size_t b = 0; b < blocks; ++b, in += 64) {
        const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
        const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32));
        const ByteMasks masks{equalMask(lo, hi, ' '), equalMask(lo, hi, '\r'),
                              equalMask(lo, hi, '\n'), equalMask(lo, hi, '\t')};
        const KeptBytes kept = resolveBlock(masks, state);
        if (kept.leadingSpace) *o++ = ' ';
        if (kept.keep == ~std::uint64_t{0}) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), lo);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + 32), hi);
            o += 64;
            continue;
        }
        for (int group = 0; group < 8; ++group) {
            const unsigned mask = (kept.keep >> (8 * group)) & 0xff;
            const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + 8 * group));
            const __m128i order =
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPack.shuffle[mask]));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_shuffle_epi8(bytes, order));
            o += kPack.count[mask];
        }
    }
    return static_cast<std::size_t>(o - out);
}

}  // namespace vellork
