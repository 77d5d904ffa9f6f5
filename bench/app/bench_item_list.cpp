// The main window under load: one group of 10,000 items, every item changing in every data
// change. Prints the GUI thread's time per data change (applying the values, the window's
// handler, the repaint of the visible rows) and per item, and the memory each list row takes.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QApplication>
#include <QTableView>
#include <QTreeWidget>
#include <chrono>
#include <cstdio>
#include <memory>

#include "QtEventLoop.h"
#include "contract/VelqorDateTime.h"
#include "fake/FakeTransport.h"
#include "uMain.h"

using namespace velqor;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kItems = 10000;

struct Fixture {
    std::unique_ptr<QtEventLoop> loop;
    std::shared_ptr<fake::FakeTransport> fake;
    std::unique_ptr<TForm1> form;
    TVelqorGroup* group = nullptr;
    double rowBytes = 0;
    int round = 0;

    Fixture() {
        qputenv("TAGSCOPE_SERVER", "Sim.Server.1");
        loop = std::make_unique<QtEventLoop>();
        loop->InstallAsDefault();
        fake = fake::FakeTransport::Create();
        form = std::make_unique<TForm1>(std::make_unique<fake::FakeServer>(fake, loop.get()));
        form->show();
        form->bConnectClick();
        group = form->OPCServer->OPCGroups().AddGroup("Load");
        form->OPCServer->SetBatchMode(true);  // the items reach the server in one call below
        for (int i = 0; i < kItems; ++i) group->OPCItems().AddItem("Load.Item" + std::to_string(i));
        form->OPCServer->SetBatchMode(false);
        group->OPCItems().AddAll();
        auto* node = new QTreeWidgetItem(QStringList{"Load"});
        size_t before = mallinfo2().uordblks;
        form->TreeView1->addTopLevelItem(node);
        form->TreeView1->setCurrentItem(node);  // fills the list
        rowBytes = double(mallinfo2().uordblks - before) / kItems;
        QCoreApplication::processEvents();
    }

    // What a poll thread posts: every item with a new value.
    void PostAll() {
        ++round;
        std::vector<ItemUpdate> updates;
        updates.reserve(kItems);
        double now = Now();
        for (int i = 0; i < kItems; ++i) {
            ItemUpdate u;
            u.ClientHandle = group->OPCItems().Items(i)->ClientHandle();
            u.Fields = ItemUpdate::kValue | ItemUpdate::kQuality | ItemUpdate::kTimeStamp |
                       ItemUpdate::kCountUpdate;
            u.Value = Variant(double(i) + round * 0.5);
            u.Quality = (i + round) % 7 ? 0xC0 : 0x00;
            u.TimeStamp = now;
            updates.push_back(std::move(u));
        }
        fake->PostDataChange(group->ID(), std::move(updates));
    }
};

Fixture& F() {
    static Fixture f;
    return f;
}

// Whole GUI-thread work of one data change: message dispatch, applying 10,000 values, the
// window's handler and the repaint of the visible part of the list.
void BM_DataChange10k(benchmark::State& state) {
    Fixture& f = F();
    TVelqorItem* last = f.group->OPCItems().Items(kItems - 1);
    for (auto _ : state) {
        int32_t before = last->UpdateCount();
        f.PostAll();
        auto t0 = Clock::now();
        // The loop wakes, applies the values and runs the window's handler.
        while (last->UpdateCount() == before)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        f.form->ItemView->viewport()->repaint();
        auto t1 = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    // The rows must show the last values, or the figures measure nothing.
    TItemRow* row = f.form->ItemModel->Row(kItems - 1);
    std::string want = Variant(double(kItems - 1) + f.round * 0.5).ToText();
    if (row->Text[colValue].toStdString() != want) state.SkipWithError("the list did not update");
    state.counters["items"] = kItems;
    state.counters["ns_per_item"] =
        benchmark::Counter(double(kItems), benchmark::Counter::kIsIterationInvariantRate |
                                               benchmark::Counter::kInvert);
    state.counters["row_bytes"] = f.rowBytes;
}
BENCHMARK(BM_DataChange10k)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The window's share alone: refreshing the value texts of 10,000 rows and one announcement.
void BM_WindowHandler10k(benchmark::State& state) {
    Fixture& f = F();
    TVelqorItemList all = f.group->OPCItems().All();
    for (auto _ : state) f.form->OPCServerDatachange(all);
    state.counters["ns_per_item"] =
        benchmark::Counter(double(kItems), benchmark::Counter::kIsIterationInvariantRate |
                                               benchmark::Counter::kInvert);
}
BENCHMARK(BM_WindowHandler10k)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Showing the group again (what choosing it in the tree costs).
void BM_ShowGroup10k(benchmark::State& state) {
    Fixture& f = F();
    for (auto _ : state) f.form->TreeView1Change();
}
BENCHMARK(BM_ShowGroup10k)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::printf("memory per list row: %.0f bytes\n", F().rowBytes);
    F().form.reset();
    benchmark::Shutdown();
    return 0;
}
