#include "squeezer.h"

#include "squeeze_blocks.h"
#include "squeeze_paths.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vellork {

namespace {

constexpr unsigned char kTab = 9, kLF = 10, kCR = 13, kSpace = 32;

// The squeeze byte by byte: for the ends of a chunk that fill no whole block.
std::size_t squeezeBytes(const unsigned char* p, const unsigned char* end, char* out,
                         SqueezeState& s) {
    char* o = out;
    while (p < end) {
        const unsigned char c = *p++;
        switch (c) {
            case kSpace:
                if (!s.lineStart) s.spacePending = true;
                s.afterCR = false;
                continue;
            case kCR:  // end of line: spaces still held back were trailing ones
                s.lineStart = true;
                s.spacePending = false;
                s.afterCR = true;
                continue;
            case kLF:
                if (s.afterCR) {  // second half of CR LF
                    s.afterCR = false;
                    continue;
                }
                [[fallthrough]];
            case kTab:
                // Written as nothing, yet line content for the trim: spaces before it are not
                // trailing and spaces after it are not leading.
                if (s.spacePending) {
                    if (!s.lastWasSpace) *o++ = ' ';
                    s.lastWasSpace = true;
                    s.spacePending = false;
                }
                s.lineStart = false;
                s.afterCR = false;
                continue;
            default:
                if (s.spacePending && !s.lastWasSpace) *o++ = ' ';
                s.spacePending = false;
                s.lineStart = false;
                s.afterCR = false;
                s.lastWasSpace = false;
                *o++ = static_cast<char>(c);
        }
    }
    return static_cast<std::size_t>(o - out);
}

constexpr std::uint64_t kOnes = 0x0101010101010101ULL, kLow7 = kOnes * 0x7f, kHigh = kOnes * 0x80;

// 0x80 in each byte of a word that equals `byte` (below 0x80), 0 in the others. `low7` is the
// word with each byte's high bit cleared, `below80` has 0x80 in each byte below 0x80: adding
// 0x7f to a byte of at most 0x7f never carries into the next one.
inline std::uint64_t equalHighBits(std::uint64_t low7, std::uint64_t below80, unsigned char byte) {
    const std::uint64_t differs = (low7 ^ (kOnes * byte)) + kLow7;  // 0x80 set where not equal
    return below80 & ~differs;
}

// The masks are gathered one word at a time with byte k of word g at bit 8k+g (two operations
// per word); this turns bit 8k+g into bit 8g+k once per block, an 8x8 bit transpose.
inline std::uint64_t transpose8x8(std::uint64_t x) {
    std::uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAULL;
    x ^= t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCULL;
    x ^= t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ULL;
    return x ^ t ^ (t << 28);
}

std::size_t scalarBlocks(const unsigned char* in, std::size_t blocks, char* out,
                         SqueezeState& state) {
    char* o = out;
    Carry carry(state);
    for (std::size_t b = 0; b < blocks; ++b, in += 64) {
        ByteMasks m{0, 0, 0, 0};
        for (int g = 0; g < 8; ++g) {
            std::uint64_t word;
            std::memcpy(&word, in + 8 * g, 8);
            if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
            // Most words of a page hold no byte at or below a space: skip the four tests.
            if (((word - kOnes * (kSpace + 1)) & ~word & kHigh) == 0) continue;
            const std::uint64_t low7 = word & kLow7, below80 = ~word & kHigh;
            m.space |= equalHighBits(low7, below80, kSpace) >> (7 - g);
            m.cr |= equalHighBits(low7, below80, kCR) >> (7 - g);
            m.lf |= equalHighBits(low7, below80, kLF) >> (7 - g);
            m.tab |= equalHighBits(low7, below80, kTab) >> (7 - g);
        }
        m = {transpose8x8(m.space), transpose8x8(m.cr), transpose8x8(m.lf), transpose8x8(m.tab)};
        const KeptBytes kept = resolveBlock(m, carry);
        if (kept.leadingSpace) *o++ = ' ';
        if (kept.keep == ~std::uint64_t{0}) {
            std::memcpy(o, in, 64);
            o += 64;
            continue;
        }
        for (int g = 0; g < 64; g += 8) {
            const unsigned mask = (kept.keep >> g) & 0xff;
            if (mask == 0xff) {
                std::memcpy(o, in + g, 8);
                o += 8;
                continue;
            }
            for (int i = g; i < g + 8; ++i) {
                *o = static_cast<char>(in[i]);
                o += (kept.keep >> i) & 1;
            }
        }
    }
    carry.store(state);
    return static_cast<std::size_t>(o - out);
}

Squeezer::BlockKernel kernelFor(SqueezePath path) {
    switch (path) {
#if VELLORK_HAVE_X86_PATHS
        case SqueezePath::Avx2:
            return squeezeBlocksAvx2;
        case SqueezePath::Avx512Vbmi2:
            return squeezeBlocksAvx512Vbmi2;
#endif
        default:
            return scalarBlocks;
    }
}

}  // namespace

std::string_view squeezePathName(SqueezePath path) {
    switch (path) {
        case SqueezePath::Scalar:
            return "scalar";
        case SqueezePath::Avx2:
            return "avx2";
        case SqueezePath::Avx512Vbmi2:
            return "avx512vbmi2";
    }
    return "scalar";
}

bool squeezePathSupported(SqueezePath path) {
    switch (path) {
        case SqueezePath::Scalar:
            return true;
#if VELLORK_HAVE_X86_PATHS
        case SqueezePath::Avx2:
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
        case SqueezePath::Avx512Vbmi2:
            return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi2");
#endif
        default:
            return false;
    }
}

std::vector<SqueezePath> supportedSqueezePaths() {
    std::vector<SqueezePath> paths;
    for (SqueezePath path : {SqueezePath::Scalar, SqueezePath::Avx2, SqueezePath::Avx512Vbmi2})
        if (squeezePathSupported(path)) paths.push_back(path);
    return paths;
}

SqueezePath defaultSqueezePath() {
    static const SqueezePath chosen = [] {
        const std::vector<SqueezePath> paths = supportedSqueezePaths();
        if (const char* wanted = std::getenv("VELLORK_SQUEEZE_PATH"))
            for (SqueezePath path : paths)
                if (squeezePathName(path) == wanted) return path;
        return paths.back();
    }();
    return chosen;
}

Squeezer::Squeezer(SqueezePath path)
    : kernel_(kernelFor(squeezePathSupported(path) ? path : SqueezePath::Scalar)) {}

std::size_t Squeezer::feed(const char* in, std::size_t n, char* out) {
    const auto* p = reinterpret_cast<const unsigned char*>(in);
    const std::size_t blocks = n / 64;
    std::size_t written = blocks ? kernel_(p, blocks, out, state_) : 0;
    written += squeezeBytes(p + blocks * 64, p + n, out + written, state_);
    return written;
}

std::size_t Squeezer::finish(char* out) {
    out[0] = '\r';
    out[1] = '\n';
    state_ = SqueezeState{};
    return 2;
}

}  // namespace vellork
