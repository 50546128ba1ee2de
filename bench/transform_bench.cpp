// Throughput of the squeeze on a large real-world page, beside memcpy of the same bytes.

#include "corpus.h"
#include "squeezer.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

const std::string& page() {
    static const std::string text = vellork::bench::largePage(32u << 20);
    return text;
}

void BM_Memcpy(benchmark::State& state) {
    const std::string& in = page();
    std::vector<char> out(in.size());
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), in.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_Squeeze(benchmark::State& state) {
    const std::string& in = page();
    if (in.empty()) {
        state.SkipWithError("no HTML corpus installed (see bench/run)");
        return;
    }
    const auto path = static_cast<vellork::SqueezePath>(state.range(0));
    if (!vellork::squeezePathSupported(path)) {
        state.SkipWithError("this processor lacks the instructions for this path");
        return;
    }
    state.SetLabel(std::string(vellork::squeezePathName(path)));
    const std::size_t chunk = std::size_t{1} << 18;
    std::vector<char> out(chunk + vellork::Squeezer::kOutputRoom);
    std::size_t produced = 0;
    for (auto _ : state) {
        vellork::Squeezer squeezer(path);
        produced = 0;
        for (std::size_t at = 0; at < in.size(); at += chunk)
            produced += squeezer.feed(in.data() + at, std::min(chunk, in.size() - at), out.data());
        produced += squeezer.finish(out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
    state.counters["input_MB"] = static_cast<double>(in.size()) / 1e6;
    state.counters["saved_%"] = 100.0 - 100.0 * static_cast<double>(produced) / in.size();
}

}  // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Squeeze)
    ->Arg(static_cast<int>(vellork::SqueezePath::Scalar))
    ->Arg(static_cast<int>(vellork::SqueezePath::Avx2))
    ->Arg(static_cast<int>(vellork::SqueezePath::Avx512Vbmi2))
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
