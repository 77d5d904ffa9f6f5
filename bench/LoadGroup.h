// The group benchmarks' load: one group of the simulated plant's Load items on a server
// component, and the values it applies per second and per CPU-second of its owning thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "BenchSupport.h"
#include "model/Velqor.h"

namespace velqor::bench {

struct Throughput {
    double valuesPerSecond = 0;
    double cpuMsPer1000 = 0;
};

// Connects server to serverName, adds the group "Load" of the first `items` Load items (in one
// call when batched), counts the values applied into `applied`, activates, and waits for the
// first values and a full change cycle.
inline TVelqorGroup* StartLoadGroup(PlainEventLoop& loop, TVelqorServer& server,
                                    const std::string& serverName, int items, int rateMs,
                                    bool batched, uint64_t& applied) {
    server.SetServerName(serverName);
    server.OPCGroupDefault().UpdateRate = rateMs;
    if (batched) server.SetBatchMode(true);
    TVelqorGroup* g = server.OPCGroups().AddGroup("Load");
    for (int i = 0; i < items; ++i) g->OPCItems().AddItem(LoadItemID(i));
    if (batched) server.SetBatchMode(false);
    server.OnDatachange = [&applied](TVelqorServer*, const TVelqorItemList& list) {
        applied += uint64_t(list.Count());
    };
    server.SetActive(true);
    loop.RunFor(std::chrono::milliseconds(1500));
    return g;
}

// The values applied while the loop runs for the given seconds, per second and per owning-thread
// CPU time.
inline Throughput MeasureThroughput(PlainEventLoop& loop, uint64_t& applied, double seconds) {
    const Span span = RunCounted(loop, applied, seconds, ThreadCpuSeconds);
    Throughput t;
    t.valuesPerSecond = double(applied) / span.wall;
    t.cpuMsPer1000 = applied ? span.cpu * 1000.0 / (double(applied) / 1000.0) : 0;
    return t;
}

}  // namespace velqor::bench
