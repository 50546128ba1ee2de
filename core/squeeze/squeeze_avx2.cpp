// The squeeze with AVX2: compare 64 bytes at once, then pack the kept bytes sixteen at a time
// with a byte shuffle looked up by their mask. Compiled with -mavx2; run only where supported.

#include "squeeze_blocks.h"
#include "squeeze_paths.h"

#include <immintrin.h>

namespace vellork {

namespace {

// For each 16-bit mask, the shuffle that packs the bytes of its set bits to the front. 1 MiB,
// built on first use; a page touches few of its entries (a 16-byte group of real HTML mostly
// loses nothing, or one short run), so those few stay in cache.
struct PackTable {
    __m128i order[1 << 16];

    PackTable() {
        for (unsigned mask = 0; mask < (1u << 16); ++mask) {
            alignas(16) unsigned char positions[16];
            int n = 0;
            for (int bit = 0; bit < 16; ++bit)
                if (mask & (1u << bit)) positions[n++] = static_cast<unsigned char>(bit);
            while (n < 16) positions[n++] = 0x80;  // shuffles in a zero
            order[mask] = _mm_load_si128(reinterpret_cast<const __m128i*>(positions));
        }
    }
};

const PackTable& packTable() {
    static const PackTable table;
    return table;
}

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
    const PackTable& pack = packTable();
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
        // Sixteen bytes per shuffle, each group stored whole right after the one before.
        // No shortcut for blocks kept whole: about half of a page's blocks are, in no
        // pattern the branch predictor can follow, and the shuffle costs less than a miss.
        for (int group = 0; group < 64; group += 16) {
            const unsigned mask = (kept.keep >> group) & 0xffff;
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + group));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o),
                             _mm_shuffle_epi8(bytes, _mm_load_si128(&pack.order[mask])));
            o += __builtin_popcount(mask);
        }
    }
    carry.store(state);
    return static_cast<std::size_t>(o - out);
}

}  // namespace vellork
