#pragma once

#include "squeezer.h"

#include <random>
#include <string>
#include <vector>

namespace vellork {
// The VBMI2 kernel over portable intrinsics (target vellork_squeeze_portable).
std::size_t squeezeBlocksAvx512Vbmi2Portable(const unsigned char* in, std::size_t blocks, char* out,
                                             SqueezeState& state);
}  // namespace vellork

namespace vellork::testing {

// One build of the squeeze, ready for a new page.
struct SqueezeUnderTest {
    std::string name;
    Squeezer fresh;
};

// Every path this processor runs, and the VBMI2 kernel's portable build, which runs on any.
inline std::vector<SqueezeUnderTest> everySqueeze() {
    std::vector<SqueezeUnderTest> all;
    for (SqueezePath path : supportedSqueezePaths())
        all.push_back({std::string(squeezePathName(path)), Squeezer(path)});
    all.push_back({"avx512vbmi2 portable build", Squeezer(squeezeBlocksAvx512Vbmi2Portable)});
    return all;
}

// Feeds `input` to the squeezer cut at the given offsets (ascending) and returns the result.
inline std::string squeezeCut(const std::string& input, const std::vector<std::size_t>& cuts,
                              Squeezer squeezer = Squeezer()) {
    std::string out;
    std::size_t from = 0;
    auto feed = [&](std::size_t to) {
        std::vector<char> buffer(to - from + Squeezer::kOutputRoom);
        out.append(buffer.data(), squeezer.feed(input.data() + from, to - from, buffer.data()));
        from = to;
    };
    for (std::size_t cut : cuts) feed(cut);
    feed(input.size());
    char end[2];
    out.append(end, squeezer.finish(end));
    return out;
}

inline std::string squeezeWhole(const std::string& input, Squeezer squeezer = Squeezer()) {
    return squeezeCut(input, {}, squeezer);
}

// Random text over the bytes the transform cares about, plus ordinary ones, with long space runs.
inline std::string randomPage(std::mt19937& rng, std::size_t maxLength) {
    static const char alphabet[] = {' ', ' ', ' ', '\t', '\r', '\n', 'a', '<', '\0', '\xff'};
    std::string page;
    const std::size_t length = rng() % (maxLength + 1);
    while (page.size() < length) {
        if (rng() % 16 == 0)
            page.append(rng() % 40, ' ');
        else
            page += alphabet[rng() % sizeof alphabet];
    }
    return page;
}

inline std::vector<std::size_t> randomCuts(std::mt19937& rng, std::size_t size) {
    std::vector<std::size_t> cuts;
    for (std::size_t at = 0; size > 0;) {
        at += 1 + rng() % (1 + size / 3);
        if (at >= size) break;
        cuts.push_back(at);
    }
    return cuts;
}

}  // namespace vellork::testing
