// libFuzzer target: every squeeze path the processor supports, and the portable build of the
// VBMI2 kernel, must give exactly what the literal steps give, wherever the input is cut. The
// risk scanner, with each of its kernels and the portable build of the AVX2 one, must give
// the same report for the whole page and for any cut as its rules alone give byte by byte.
// The first two bytes of an input choose the cuts; the rest is the page.

#include "reference.h"
#include "squeeze_test_util.h"

#include <cstdint>
#include <cstdlib>
#include <random>

// Cuts at random offsets, from one byte apart to a third of the page.
static std::vector<std::size_t> randomCuts(std::mt19937& rng, std::size_t size) {
    std::vector<std::size_t> cuts;
    for (std::size_t at = 1 + rng() % (1 + size / 3); at < size; at += 1 + rng() % (1 + size / 3))
        cuts.push_back(at);
    return cuts;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    std::mt19937 rng(static_cast<unsigned>(data[0]) << 8 | data[1]);
    const std::string page(reinterpret_cast<const char*>(data) + 2, size - 2);
    const std::string expected = vellork::reference::squeeze(page);
    static const auto squeezes = vellork::testing::everySqueeze();
    for (const auto& s : squeezes) {
        const auto cuts = randomCuts(rng, page.size());
        if (vellork::testing::squeezeCut(page, cuts, s.second) != expected) std::abort();
        if (vellork::testing::squeezeCut(page, {}, s.second) != expected) std::abort();
    }
    using vellork::testing::riskSummary, vellork::testing::scanCut;
    static vellork::RiskScanner rules;
    std::vector<std::size_t> everyByte;
    for (std::size_t at = 1; at < page.size(); ++at) everyByte.push_back(at);
    const std::string report = riskSummary(scanCut(rules, page, everyByte));
    static auto scanners = [] {
        std::vector<vellork::RiskScanner> all;
        for (const auto& kernel : vellork::testing::everyScanKernel())
            all.emplace_back(kernel.second);
        return all;
    }();
    for (vellork::RiskScanner& scanner : scanners)
        if (riskSummary(scanCut(scanner, page, {})) != report ||
            riskSummary(scanCut(scanner, page, randomCuts(rng, page.size()))) != report)
            std::abort();
    return 0;
}
