#pragma once

#include "risks.h"
#include "risks_paths.h"
#include "squeezer.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vellork {
// The VBMI2 kernel over portable intrinsics (target vellork_squeeze_portable).
std::size_t squeezeBlocksAvx512Vbmi2Portable(const unsigned char* in, std::size_t blocks, char* out,
                                             SqueezeState& state);
// The scanner's AVX2 kernel over portable intrinsics (the same target).
const unsigned char* scanBlocksAvx2Portable(const unsigned char* p, const unsigned char* end,
                                            RiskBlockState& state);
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

// Every scanner kernel this processor runs, and the AVX2 one's portable build; each by name.
inline std::vector<std::pair<std::string, RiskScanner::BlockKernel>> everyScanKernel() {
    std::vector<std::pair<std::string, RiskScanner::BlockKernel>> all;
    for (SqueezePath path : supportedSqueezePaths()) {
        const RiskScanner::BlockKernel kernel = riskKernelFor(path);
        if (all.empty() || all.back().second != kernel)
            all.emplace_back(squeezePathName(path), kernel);
    }
    all.emplace_back("avx2 portable build", scanBlocksAvx2Portable);
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

// Scans `page` cut at the given offsets (ascending) with `scanner`, which is then ready again.
inline vellork::PageRisks scanCut(RiskScanner& scanner, std::string_view page,
                                  std::vector<std::size_t> cuts) {
    std::size_t from = 0;
    cuts.push_back(page.size());
    for (std::size_t to : cuts) {
        scanner.feed(page.data() + from, to - from);
        from = to;
    }
    return scanner.finish();
}

// A report in words: each kind of risk found with its count and listed lines ("joined 2 [1 3]"),
// or "safe", then how the page ends when it ends in a line end.
inline std::string riskSummary(const PageRisks& risks) {
    std::string out;
    const auto kind = [&](const char* name, std::uint64_t count,
                          const std::vector<std::uint64_t>& lines) {
        if (count == 0) return;
        out += (out.empty() ? "" : " ") + std::string(name) + " " + std::to_string(count) + " [";
        for (std::size_t i = 0; i < lines.size(); ++i)
            out += (i ? " " : "") + std::to_string(lines[i]);
        out += "]";
    };
    kind("joined", risks.joinedWords, risks.joinedWordLines);
    kind("blocks", risks.changedBlocks, risks.changedBlockLines);
    kind("scripts", risks.brokenScripts, risks.brokenScriptLines);
    if (!risks.atRisk()) out = "safe";
    static const char* const ends[] = {", ends CR LF", ", ends LF", ", ends CR", ""};
    return out + ends[static_cast<int>(risks.lastLineEnd)];
}

}  // namespace vellork::testing
