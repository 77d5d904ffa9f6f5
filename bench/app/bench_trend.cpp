// The live trend's cost to the window's thread: 20 items at 10 changes a second each, with the
// trend repainting five times a second over five minutes of history. Prints the time per
// recorded change, per repaint, and the share of one second of the GUI thread they take.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "TrendWidget.h"

using namespace velqor;

namespace {

constexpr int kItems = 20;
constexpr int kChangesPerSecond = 10;  // per item
constexpr int kFramesPerSecond = 5;    // the trend's repaint pace

struct Items {
    std::vector<std::unique_ptr<TVelqorItemData>> items;
    TVelqorItemList list;
    Items() {
        for (int i = 0; i < kItems; ++i) {
            auto item = std::make_unique<TVelqorItemData>();
            item->FItemID = "Plant/Area1/Item" + std::to_string(i);
            list.Add(item.get());
            items.push_back(std::move(item));
        }
    }
    void Change(int round) {
        for (int i = 0; i < kItems; ++i) {
            ItemUpdate u;
            u.Fields = ItemUpdate::kValue;
            u.Value =
                i == 0 ? Variant::Bool(round % 7 < 3) : Variant(std::sin(round * 0.1 + i) * i);
            items[size_t(i)]->ApplyUpdate(u);
        }
    }
};

// A trend holding its full history: five minutes of changes at the rate above.
struct Filled {
    Items items;
    TrendWidget trend;
    double now = 1.8e9;
    int round = 0;
    Filled() {
        std::vector<TVelqorItemData*> all;
        for (auto& i : items.items) all.push_back(i.get());
        trend.SetItems(all);
        for (int k = 0; k < int(trend.Span()) * kChangesPerSecond; ++k) Step();
    }
    // One data change of every item, a tenth of a second later.
    void Step() {
        items.Change(++round);
        now += 1.0 / kChangesPerSecond;
        trend.Record(items.list, now);
    }
};

Filled& Shared() {
    static Filled f;
    return f;
}

double g_recordNs = 0, g_paintNs = 0;

void BM_RecordDataChangeOf20Items(benchmark::State& state) {
    Filled& f = Shared();
    for (auto _ : state) f.Step();
}
BENCHMARK(BM_RecordDataChangeOf20Items);

void BM_PaintFullHistory(benchmark::State& state) {
    Filled& f = Shared();
    QImage image(900, 250, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter p(&image);
        f.trend.Draw(p, image.size(), f.now);
    }
}
BENCHMARK(BM_PaintFullHistory);

// Reports the share of the GUI thread after the runs, from the measured times.
class ShareReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            // The thread's own time per iteration (ns): what the window's thread spends, apart
            // from what other programs on the machine take from it.
            const double ns = r.GetAdjustedCPUTime();
            if (r.benchmark_name().find("Record") != std::string::npos) g_recordNs = ns;
            if (r.benchmark_name().find("Paint") != std::string::npos) g_paintNs = ns;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        // Per second: kChangesPerSecond data changes of all 20 items, kFramesPerSecond repaints.
        const double perSecondNs = g_recordNs * kChangesPerSecond + g_paintNs * kFramesPerSecond;
        std::printf(
            "trend, %d items at %d changes/s, %d repaints/s: %.3f ms of GUI thread per second "
            "= %.2f %%\n",
            kItems, kChangesPerSecond, kFramesPerSecond, perSecondNs / 1e6, perSecondNs / 1e7);
    }
};

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    ShareReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
