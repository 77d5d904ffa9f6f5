// One data change of N items posted to a connected server component and handled: lookup of
// each item by client handle, storing value, quality and timestamp, and both events.
#include <benchmark/benchmark.h>

#include "fake/FakeTransport.h"

namespace {

using namespace velqor;

void BM_ApplyDataChange(benchmark::State& state) {
    const int n = int(state.range(0));
    PlainEventLoop loop;
    auto fake = fake::FakeTransport::Create();
    fake::FakeServer server(fake, &loop);
    server.SetServerName("Bench.Server");
    server.SetActive(true);
    TVelqorGroup* g = server.OPCGroups().AddGroup("G");
    server.SetBatchMode(true);  // add the items in one call at the end
    for (int i = 0; i < n; ++i) g->OPCItems().AddItem("Item" + std::to_string(i));
    g->OPCItems().AddAll();
    int64_t seen = 0;
    server.OnDatachange = [&](TVelqorServer*, const TVelqorItemList& l) { seen += l.Count(); };

    std::vector<ItemUpdate> updates(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        ItemUpdate& u = updates[size_t(i)];
        u.ClientHandle = g->OPCItems().Items(i)->ClientHandle();
        u.Fields = ItemUpdate::kValue | ItemUpdate::kQuality | ItemUpdate::kTimeStamp |
                   ItemUpdate::kCountUpdate;
        u.Value = Variant(double(i));
        u.Quality = 0xC0;
        u.TimeStamp = 45000.5;
    }
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<ItemUpdate> copy = updates;
        state.ResumeTiming();
        fake->PostDataChange(g->ID(), std::move(copy));
        loop.ProcessPending();
    }
    if (seen != int64_t(state.iterations()) * n) state.SkipWithError("not every item was applied");
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
}
BENCHMARK(BM_ApplyDataChange)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
