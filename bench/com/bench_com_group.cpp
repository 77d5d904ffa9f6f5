// One COM group of 10,000 items on the simulated DA 3.0 server, updated every 100 ms:
//  - item values applied per second on the owning thread, and that thread's CPU time per 1,000
//    applied values (with the values per CPU-second this allows),
//  - one 10,000-item IOPCDataCallback::OnDataChange: the sink's decoding and posting, and the
//    component model applying the posted values,
//  - decoding one 10,000-item DA 1.0 stream (with time).
// Prints the median of a few runs.
//
//   bench_com_group [--runs N] [--seconds S] [--rate MS] [--server PROGID]
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "com/VelqorCOMDAGroup.h"
#include "com/VelqorCOMDAStream.h"
#include "com/runtime/ComPlatform.h"
#include "comda/SimServers.h"
#include "model/Velqor.h"

using namespace velqor;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kItems = 10000;

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double MsSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

std::string LoadItemID(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "Load/Item%05d", i);
    return name;
}

struct Figures {
    double valuesPerSecond = 0;
    double cpuMsPer1000 = 0;
    double callbackMs = 0;  // the sink: decode and post
    double applyMs = 0;     // the component: apply and raise events
};

Figures RunGroup(const std::string& progId, int rateMs, double seconds) {
    PlainEventLoop loop;
    EventLoop::SetDefault(&loop);
    Figures f;
    {
        TVelqorServer server(&loop);
        server.SetServerName(progId);
        server.OPCGroupDefault().UpdateRate = rateMs;
        server.SetBatchMode(true);
        TVelqorGroup* g = server.OPCGroups().AddGroup("Load");
        for (int i = 0; i < kItems; ++i) g->OPCItems().AddItem(LoadItemID(i));
        server.SetBatchMode(false);
        uint64_t applied = 0;
        server.OnDatachange = [&](TVelqorServer*, const TVelqorItemList& items) {
            applied += uint64_t(items.Count());
        };
        server.SetActive(true);
        loop.RunFor(std::chrono::milliseconds(1500));  // settle: first values, a full cycle

        applied = 0;
        const double cpu0 = ThreadCpuSeconds();
        const auto t0 = Clock::now();
        loop.RunFor(std::chrono::milliseconds(int(seconds * 1000)));
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        const double cpu = ThreadCpuSeconds() - cpu0;
        f.valuesPerSecond = double(applied) / wall;
        f.cpuMsPer1000 = applied ? cpu * 1000.0 / (double(applied) / 1000.0) : 0;

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
    std::vector<double> ms;
    TDecodedStream out;
    for (int run = 0; run < 25; ++run) {
        const auto t0 = Clock::now();
        DecodeDataStream(reinterpret_cast<const uint8_t*>(block.data()), block.size(), true, out);
        ms.push_back(MsSince(t0));
    }
    if (out.Items.size() != size_t(kItems)) std::fprintf(stderr, "stream decode lost items\n");
    return Median(ms);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 3, rateMs = 100;
    double seconds = 5;
    std::string server = "Velqor.SimDA30.1";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--runs"))
            runs = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--rate"))
            rateMs = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--server"))
            server = argv[i + 1];
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    sim::RegisterSimulatedServers();
    std::vector<double> vps, cpu, cb, ap;
    for (int r = 0; r < runs; ++r) {
        Figures f = RunGroup(server, rateMs, seconds);
        vps.push_back(f.valuesPerSecond);
        cpu.push_back(f.cpuMsPer1000);
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
