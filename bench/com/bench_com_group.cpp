// One COM group of the simulated DA 3.0 server's Load items, in process, every value changing
// at each update (the server's load period set to the update rate):
//  - values per second that reach the component through the real callback path: the server's
//    group samples its items, fires IOPCDataCallback::OnDataChange through its connection
//    point into the client's sink, and the component applies what the sink posted;
//  - the CPU time of the thread they share, told apart: the server's own (sampling, change
//    detection, building and copying the callback's arrays), counted by the server with the
//    thread CPU clock around each tick less the time spent inside its clients' callbacks; the
//    client's is the rest (the sink's decoding and posting, the component applying);
//  - one 10,000-item OnDataChange straight into the sink: its decoding and posting, and the
//    component applying the posted values;
//  - decoding one 10,000-item DA 1.0 stream (with time).
// Prints the median of a few runs.
//
//   bench_com_group [--runs N] [--seconds S] [--items N] [--rate MS] [--period MS]
//                   [--server PROGID]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "LoadGroup.h"
#include "com/VelqorCOMDAGroup.h"
#include "com/VelqorCOMDAStream.h"
#include "com/runtime/ComPlatform.h"
#include "comda/SimFaults.h"
#include "comda/SimServers.h"
#include "model/Velqor.h"

using namespace velqor;
using namespace velqor::bench;

namespace {

constexpr int kCallbackItems = 10000;

struct Figures {
    double valuesPerSecond = 0;
    double clientCpuMsPer1000 = 0;  // the sink and the component
    double serverCpuMsPer1000 = 0;  // the simulated server's own share of the thread
    double callbackMs = 0;          // the sink: decode and post
    double applyMs = 0;             // the component: apply and raise events
};

Figures RunGroup(const std::string& progId, int items, int rateMs, double seconds) {
    PlainEventLoop loop;
    EventLoop::SetDefault(&loop);
    Figures f;
    {
        TVelqorServer server(&loop);
        uint64_t applied = 0;
        TVelqorGroup* g = StartLoadGroup(loop, server, progId, items, rateMs, true, applied);
        const double server0 = sim::SimulatedDataChangeCpuSeconds();
        const Span client = RunCounted(loop, applied, seconds, [] {
            return ThreadCpuSeconds() - sim::SimulatedDataChangeCpuSeconds();
        });
        const double serverCpu = sim::SimulatedDataChangeCpuSeconds() - server0;
        const double thousands = double(applied) / 1000.0;
        f.valuesPerSecond = double(applied) / client.wall;
        f.clientCpuMsPer1000 = applied ? client.cpu * 1000.0 / thousands : 0;
        f.serverCpuMsPer1000 = applied ? serverCpu * 1000.0 / thousands : 0;

        // One callback straight into the group's sink, with the server's own data changes
        // stopped so that only this callback's values are applied.
        g->SetIsActive(false);
        loop.RunFor(std::chrono::milliseconds(2 * rateMs));
        auto* group = static_cast<TVelqorCOMGroup*>(g->TransportGroup().Get());
        TVelqorDataCallback* sink = group ? group->DataCallback() : nullptr;
        if (sink) {
            std::vector<OPCHANDLE> handles;
            for (int i = 0; i < std::min(g->OPCItems().Count(), kCallbackItems); ++i)
                handles.push_back(g->OPCItems().Items(i)->ClientHandle());
            const DWORD n = DWORD(handles.size());
            std::vector<VARIANT> values(n);
            std::vector<WORD> qualities(n, 0xC0);
            std::vector<FILETIME> times(n);
            std::vector<HRESULT> errors(n, S_OK);
            GetSystemTimeAsFileTime(&times[0]);
            std::fill(times.begin(), times.end(), times[0]);
            std::vector<double> decode, apply;
            for (int run = 0; run < 15; ++run) {
                for (DWORD i = 0; i < n; ++i) {
                    VariantInit(&values[i]);
                    values[i].vt = VT_I4;
                    values[i].lVal = LONG(i + DWORD(run));
                }
                loop.ProcessPending();
                auto t1 = Clock::now();
                sink->OnDataChange(0, OPCHANDLE(group->ClientGroupHandle()), S_OK, S_OK, n,
                                   handles.data(), values.data(), qualities.data(), times.data(),
                                   errors.data());
                decode.push_back(MsSince(t1));
                t1 = Clock::now();
                loop.ProcessPending();
                apply.push_back(MsSince(t1));
            }
            f.callbackMs = Median(decode);
            f.applyMs = Median(apply);
        }
        server.SetActive(false);
    }
    EventLoop::SetDefault(nullptr);
    return f;
}

double StreamDecodeMs() {
    std::vector<ItemUpdate> items(kCallbackItems);
    for (int i = 0; i < kCallbackItems; ++i) {
        items[size_t(i)].ClientHandle = uint32_t(i + 1);
        items[size_t(i)].Value = Variant::I4(i);
        items[size_t(i)].Quality = 0xC0;
        items[size_t(i)].TimeStamp = 45000.5;
    }
    const std::string block = EncodeDataStream(items, true, 1, 0, 0);
    TDecodedStream out;
    const double ms = MedianMs(25, [&] {
        DecodeDataStream(reinterpret_cast<const uint8_t*>(block.data()), block.size(), true, out);
    });
    if (out.Items.size() != size_t(kCallbackItems))
        std::fprintf(stderr, "stream decode lost items\n");
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 3, items = 100000, rateMs = 50, periodMs = 0;
    double seconds = 5;
    std::string server = "Velqor.SimDA30.1";
    ReadOptions(argc, argv,
                {{"--runs", &runs},
                 {"--seconds", &seconds},
                 {"--items", &items},
                 {"--rate", &rateMs},
                 {"--period", &periodMs},
                 {"--server", &server}});
    if (periodMs <= 0) periodMs = rateMs;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    sim::SimFaults load;
    load.LoadItems = items;
    load.LoadPeriodMs = periodMs;
    sim::SetSimFaults(load);
    sim::RegisterSimulatedServers();
    std::vector<double> vps, client, serverCpu, cb, ap;
    for (int r = 0; r < runs; ++r) {
        Figures f = RunGroup(server, items, rateMs, seconds);
        vps.push_back(f.valuesPerSecond);
        client.push_back(f.clientCpuMsPer1000);
        serverCpu.push_back(f.serverCpuMsPer1000);
        cb.push_back(f.callbackMs);
        ap.push_back(f.applyMs);
    }
    const double clientMs = Median(client), serverMs = Median(serverCpu);
    std::printf(
        "%s in process, %d items, update rate %d ms, the server's load items change every "
        "%d ms; %d runs of %.1f s (medians)\n",
        server.c_str(), items, rateMs, periodMs, runs, seconds);
    std::printf(
        "values through OnDataChange per second: %12.0f  (at most %.0f: every item, every "
        "update)\n",
        Median(vps), double(items) * 1000.0 / std::max(rateMs, periodMs));
    std::printf(
        "client CPU per 1,000 values:            %12.3f ms  (%.0f values per client "
        "CPU-second)\n",
        clientMs, clientMs > 0 ? 1e6 / clientMs : 0.0);
    std::printf(
        "server CPU per 1,000 values:            %12.3f ms  (sampling and firing, same "
        "thread, counted apart)\n",
        serverMs);
    std::printf("one %d-item callback, sink:          %12.3f ms\n", kCallbackItems, Median(cb));
    std::printf("one %d-item callback, applied:       %12.3f ms\n", kCallbackItems, Median(ap));
    std::printf("one %d-item DA 1.0 stream, decode:   %12.3f ms\n", kCallbackItems,
                StreamDecodeMs());
    sim::UnregisterSimulatedServers();
    CoUninitialize();
    return 0;
}
