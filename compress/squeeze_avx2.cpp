// The squeeze with AVX2: compare 64 bytes at once, then pack the kept bytes eight at a time
// with a byte shuffle chosen by their mask. Compiled with -mavx2; run only where supported.

#include "squeeze_blocks.h"
#include "squeeze_paths.h"

#include <immintrin.h>

namespace vellork {

namespace {

// For each 8-bit mask: the positions of its set bits packed to the front, for the low and
// for the high eight bytes of sixteen.
struct PackTable {
    alignas(16) unsigned char low[256][8];
    alignas(16) unsigned char high[256][8];
    unsigned char count[256];

    constexpr PackTable() : low{}, high{}, count{} {
        for (int mask = 0; mask < 256; ++mask) {
            int n = 0;
            for (int bit = 0; bit < 8; ++bit)
                if (mask & (1 << bit)) {
                    low[mask][n] = static_cast<unsigned char>(bit);
                    high[mask][n++] = static_cast<unsigned char>(bit + 8);
                }
            for (int rest = n; rest < 8; ++rest) low[mask][rest] = high[mask][rest] = 0x80;
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
    Carry carry(state);
    for (std::size_t b = 0; b < blocks; ++b, in += 64) {
        const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
        const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32));
        const ByteMasks masks{equalMask(lo, hi, ' '), equalMask(lo, hi, '\r'),
                              equalMask(lo, hi, '\n'), equalMask(lo, hi, '\t')};
        const KeptBytes kept = resolveBlock(masks, carry);
        *o = ' ';  // kept only when a space is held over from the block before
        o += kept.leadingSpace;
        // Sixteen bytes per shuffle: both halves packed in place, stored one after the other.
        // No shortcut for blocks kept whole: about half of a page's blocks are, in no
        // pattern the branch predictor can follow, and the shuffle costs less than a miss.
        for (int group = 0; group < 64; group += 16) {
            const unsigned lowMask = (kept.keep >> group) & 0xff;
            const unsigned highMask = (kept.keep >> (group + 8)) & 0xff;
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + group));
            const __m128i order = _mm_unpacklo_epi64(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPack.low[lowMask])),
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPack.high[highMask])));
            const __m128i packed = _mm_shuffle_epi8(bytes, order);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o), packed);
            o += kPack.count[lowMask];
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_srli_si128(packed, 8));
            o += kPack.count[highMask];
        }
    }
    carry.store(state);
    return static_cast<std::size_t>(o - out);
}

}  // namespace vellork
