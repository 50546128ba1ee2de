// The file list and the batch at scale: adding 100,000 rows one by one, and compressing
// 10,000 small pages with a durable replace each.

#include "batch.h"
#include "memory.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <filesystem>
#include <fstream>

namespace {

class SilentHost : public vellork::CompressHost {
public:
    void showMessage(vellork::MessageIcon, const std::string& text) override {
        last_ = QString::fromStdString(text);
    }
    const QString& lastMessage() const { return last_; }
    void setProgressMaximum(int value) override { maximum_ = value; }
    int progressMaximum() const override { return maximum_; }
    void setProgressValue(int) override {}
    void yield() override { QCoreApplication::processEvents(); }
    void batchStarted() override {}
    void batchFinished() override {}
    bool stopRequested() const override { return false; }

private:
    int maximum_ = 100;
    QString last_;
};

void BM_AddRowsOnTop(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    std::size_t heap = 0;
    for (auto _ : state) {
        const std::size_t before = vellork::bench::heapInUse();
        vellork::FileListModel list;
        for (int i = 0; i < rows; ++i) {
            list.insertAtTop(QStringLiteral("/home/user/site/pages/page-%1.html").arg(i));
            list.setColumn(1, vellork::FileListModel::Size, QString::number(1000 + i));
        }
        heap = vellork::bench::heapInUse() - before;
        benchmark::DoNotOptimize(list.count());
    }
    state.counters["rows"] = rows;
    state.counters["heap_MB"] = static_cast<double>(heap) / 1e6;
    state.counters["rows_per_s"] =
        benchmark::Counter(rows, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_BatchOfSmallPages(benchmark::State& state) {
    const int files = static_cast<int>(state.range(0));
    const auto folder = std::filesystem::temp_directory_path() / "vellork-bench-batch";
    const std::string page =
        "<html>\r\n  <body>\r\n    <p>Hello,   world</p>\r\n  </body>\r\n</html>\r\n";
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        vellork::FileListModel list;
        for (int i = 0; i < files; ++i) {
            const auto path = folder / ("page-" + std::to_string(i) + ".html");
            std::ofstream(path, std::ios::binary) << page;
            list.insertAtTop(QString::fromStdString(path.string()));
        }
        SilentHost host;
        vellork::CompressionBatch batch(list, host);
        const std::size_t heapBefore = vellork::bench::heapInUse();
        state.ResumeTiming();
        batch.start();
        state.PauseTiming();
        state.counters["heap_growth_MB"] =
            (static_cast<double>(vellork::bench::heapInUse()) - static_cast<double>(heapBefore)) /
            1e6;
        state.counters["last_row_done"] =
            list.data(list.index(files - 1, 3)).toString() != "" ? 1 : 0;
        state.counters["all_succeeded"] = host.lastMessage().startsWith("All HTML") ? 1 : 0;
        state.ResumeTiming();
    }
    std::filesystem::remove_all(folder);
    state.counters["files"] = files;
    state.counters["files_per_s"] =
        benchmark::Counter(files, benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

BENCHMARK(BM_AddRowsOnTop)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BatchOfSmallPages)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
