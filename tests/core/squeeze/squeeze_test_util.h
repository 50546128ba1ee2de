#pragma once

#include "squeezer.h"

#include <string>
#include <utility>
#include <vector>

namespace vellork {
// The VBMI2 kernel over portable intrinsics (target vellork_squeeze_portable).
std::size_t squeezeBlocksAvx512Vbmi2Portable(const unsigned char* in, std::size_t blocks, char* out,
                                             SqueezeState& state);
}  // namespace vellork

namespace vellork::testing {

// Every path this processor runs, and the VBMI2 kernel's portable build, which runs on any; each
// by name, fresh.
inline std::vector<std::pair<std::string, Squeezer>> everySqueeze() {
    std::vector<std::pair<std::string, Squeezer>> all;
    for (SqueezePath path : supportedSqueezePaths())
        all.emplace_back(squeezePathName(path), Squeezer(path));
    all.emplace_back("avx512vbmi2 portable build", Squeezer(squeezeBlocksAvx512Vbmi2Portable));
    return all;
}

// Feeds `input` cut at the given offsets (ascending), each chunk into a buffer exactly as large
// as promised, so that the sanitizers see a path that writes past its room.
inline std::string squeezeCut(const std::string& input, std::vector<std::size_t> cuts,
                              Squeezer squeezer = Squeezer()) {
    std::string out;
    std::size_t from = 0;
    cuts.push_back(input.size());
    for (std::size_t to : cuts) {
        std::vector<char> buffer(to - from + Squeezer::kOutputRoom);
        out.append(buffer.data(), squeezer.feed(input.data() + from, to - from, buffer.data()));
        from = to;
    }
    char end[Squeezer::kOutputRoom];
    return out.append(end, squeezer.finish(end));
}

}  // namespace vellork::testing
