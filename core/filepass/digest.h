#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vellork {

// A fast 64-bit digest of a byte stream, independent of how the stream is cut into pieces.
// It tells whether a file read twice gave the same bytes; it is no defence against someone
// who crafts a collision, only against an accidental one (one in 2^64).
class Digest {
public:
    void update(const char* data, std::size_t n) {
        total_ += n;
        if (pending_ != 0) {
            const std::size_t take = n < kStripe - pending_ ? n : kStripe - pending_;
            std::memcpy(buffer_ + pending_, data, take);
            pending_ += take;
            data += take;
            n -= take;
            if (pending_ < kStripe) return;
            stripe(buffer_);
            pending_ = 0;
        }
        for (; n >= kStripe; data += kStripe, n -= kStripe) stripe(data);
        std::memcpy(buffer_, data, n);
        pending_ = n;
    }

    std::uint64_t value() const {
        std::uint64_t h = total_ * kPrime1;
        for (const std::uint64_t lane : lanes_) h = mix(h ^ round(0, lane));
        for (std::size_t i = 0; i < pending_; ++i)
            h = mix(h ^ (static_cast<unsigned char>(buffer_[i]) * kPrime2));
        return mix(h);
    }

private:
    static constexpr std::size_t kStripe = 32;
    static constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
    static constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;

    static std::uint64_t rotl(std::uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }
    static std::uint64_t round(std::uint64_t lane, std::uint64_t word) {
        return rotl(lane + word * kPrime2, 31) * kPrime1;
    }
    static std::uint64_t mix(std::uint64_t h) {
        h ^= h >> 33;
        h *= kPrime2;
        h ^= h >> 29;
        h *= kPrime1;
        return h ^ (h >> 32);
    }
    void stripe(const char* p) {
        for (int i = 0; i < 4; ++i) {
            std::uint64_t word;
            std::memcpy(&word, p + 8 * i, 8);
            lanes_[i] = round(lanes_[i], word);
        }
    }

    std::uint64_t lanes_[4] = {kPrime1, kPrime2, 0, ~kPrime1};
    std::uint64_t total_ = 0;
    char buffer_[kStripe] = {};
    std::size_t pending_ = 0;
};

}  // namespace vellork
