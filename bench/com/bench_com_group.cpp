// One COM group of 10,000 items on the simulated DA 3.0 server, updated every 100 ms:
//  - item values applied per second on the owning thread, and that thread's CPU time per 1,000
//    applied values (with the values per CPU-second this allows),
//  - one 10,000-item IOPCDataCallback::OnDataChange: the sink's decoding and posting, and the
//    component model applying the posted values,
//  - decoding one 10,000-item DA 1.0 stream (with time).
// Prints the median of a few runs.
//
//   bench_com_group [--runs N] [--seconds S] [--rate MS] [--server PROGID]
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
#include "comda/SimServers.h"
#include "model/Velqor.h"

using namespace velqor;
using namespace velqor::bench;

namespace {

constexpr int kItems = 10000;

struct Figures {
    Throughput load;
    double callbackMs = 0;  // the sink: decode and post
    double applyMs = 0;     // the component: apply and raise events
};

Figures RunGroup(const std::string& progId, int rateMs, double seconds) {
    PlainEventLoop loop;
    EventLoop::SetDefault(&loop);
    Figures f;
    {
        TVelqorServer server(&loop);
        uint64_t applied = 0;
        TVelqorGroup* g = StartLoadGroup(loop, server, progId, kItems, rateMs, true, applied);
        f.load = MeasureThroughput(loop, applied, seconds);

        // One callback of every item, straight into the group's sink.
        auto* group = static_cast<TVelqorCOMGroup*>(g->TransportGroup().Get());
        TVelqorDataCallback* sink = group ? group->DataCallback() : nullptr;
        if (sink) {
            std::vector<OPCHANDLE> handles;
            for (int i = 0; i < g->OPCItems().Count(); ++i)
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
    std::vector<ItemUpdate> items(kItems);
    for (int i = 0; i < kItems; ++i) {
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
    if (out.Items.size() != size_t(kItems)) std::fprintf(stderr, "stream decode lost items\n");
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 3, rateMs = 100;
    double seconds = 5;
    std::string server = "Velqor.SimDA30.1";
    ReadOptions(
        argc, argv,
        {{"--runs", &runs}, {"--seconds", &seconds}, {"--rate", &rateMs}, {"--server", &server}});
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    sim::RegisterSimulatedServers();
    std::vector<double> vps, cpu, cb, ap;
    for (int r = 0; r < runs; ++r) {
        Figures f = RunGroup(server, rateMs, seconds);
        vps.push_back(f.load.valuesPerSecond);
        cpu.push_back(f.load.cpuMsPer1000);
        cb.push_back(f.callbackMs);
        ap.push_back(f.applyMs);
    }
    const double cpuMs = Median(cpu);
    std::printf("%s, %d items, update rate %d ms, %d runs of %.1f s (medians)\n", server.c_str(),
                kItems, rateMs, runs, seconds);
    std::printf("values applied per second:            %12.0f\n", Median(vps));
    std::printf("owning-thread CPU per 1,000 values:   %12.3f ms  (%.0f values per CPU-second)\n",
                cpuMs, cpuMs > 0 ? 1e6 / cpuMs : 0.0);
    std::printf("one %d-item callback, sink:        %12.3f ms\n", kItems, Median(cb));
    std::printf("one %d-item callback, applied:     %12.3f ms\n", kItems, Median(ap));
    std::printf("one %d-item DA 1.0 stream, decode: %12.3f ms\n", kItems, StreamDecodeMs());
    sim::UnregisterSimulatedServers();
    CoUninitialize();
    return 0;
}
