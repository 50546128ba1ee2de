// Throughput of the squeeze on a large real-world page, beside memcpy of the same bytes, and of
// the risk scanner that vellork-cli --check runs over the same page beside the squeeze.

#include "corpus.h"
#include "risks.h"
#include "squeezer.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <ctime>

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

// Whether a benchmark of the squeeze path state.range(0) can run here: the corpus is there and
// the processor has the path's instructions. Otherwise tells why and skips it.
bool canRun(benchmark::State& state) {
    if (page().empty()) {
        state.SkipWithError("no HTML corpus installed (see bench/run)");
        return false;
    }
    if (!vellork::squeezePathSupported(static_cast<vellork::SqueezePath>(state.range(0)))) {
        state.SkipWithError("this processor lacks the instructions for this path");
        return false;
    }
    return true;
}

void BM_Squeeze(benchmark::State& state) {
    if (!canRun(state)) return;
    const std::string& in = page();
    const auto path = static_cast<vellork::SqueezePath>(state.range(0));
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

// The CPU time this thread has used: on a machine shared with other work, wall time counts the
// turns other processes take as well.
std::chrono::nanoseconds threadCpuTime() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// The scanner with the instructions of a squeeze path, and the squeeze on that path over the
// same chunks, one after the other in each iteration so that both meet the same load:
// "x_squeeze" is the scanner's CPU time over the squeeze's.
void BM_Scan(benchmark::State& state) {
    if (!canRun(state)) return;
    const std::string& in = page();
    const auto path = static_cast<vellork::SqueezePath>(state.range(0));
    const std::size_t chunk = std::size_t{1} << 18;
    std::vector<char> out(chunk + vellork::Squeezer::kOutputRoom);
    vellork::RiskScanner scanner(path);
    std::chrono::nanoseconds scanning{}, squeezing{};
    std::uint64_t joined = 0;
    for (auto _ : state) {
        const auto start = threadCpuTime();
        for (std::size_t at = 0; at < in.size(); at += chunk)
            scanner.feed(in.data() + at, std::min(chunk, in.size() - at));
        joined = scanner.finish().joinedWords;
        const auto scanned = threadCpuTime();
        state.PauseTiming();
        const auto squeezeStart = threadCpuTime();
        vellork::Squeezer squeezer(path);
        for (std::size_t at = 0; at < in.size(); at += chunk)
            squeezer.feed(in.data() + at, std::min(chunk, in.size() - at), out.data());
        squeezer.finish(out.data());
        benchmark::DoNotOptimize(out.data());
        scanning += scanned - start;
        squeezing += threadCpuTime() - squeezeStart;
        state.ResumeTiming();
    }
    // bench/run lists the label in its column of paths.
    state.SetLabel("risk scanner (squeeze: " + std::string(vellork::squeezePathName(path)) + ")");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
    state.counters["joined_words"] = static_cast<double>(joined);
    state.counters["x_squeeze"] = static_cast<double>(scanning.count()) / squeezing.count();
}

}  // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Squeeze)
    ->Arg(static_cast<int>(vellork::SqueezePath::Scalar))
    ->Arg(static_cast<int>(vellork::SqueezePath::Avx2))
    ->Arg(static_cast<int>(vellork::SqueezePath::Avx512Vbmi2))
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scan)
    ->Arg(static_cast<int>(vellork::SqueezePath::Scalar))
    ->Arg(static_cast<int>(vellork::SqueezePath::Avx2))
    ->Arg(static_cast<int>(vellork::SqueezePath::Avx512Vbmi2))
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
