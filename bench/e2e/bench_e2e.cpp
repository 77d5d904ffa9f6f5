// End to end over XML-DA on loopback: xmlda-sim runs as a separate process, the client (the
// component model with its XML-DA groups and poll threads) in a child process of this program,
// one child per case, so that its CPU (getrusage, all threads) and its peak memory are its own.
//
// For each case (items per group x groups, at the update rate) and for replies plain and
// compressed, it prints the values delivered per second, the client's CPU per value, the
// simulator's CPU per second and the client's peak memory per item. Then the decode of one
// 10,000-item polled-refresh reply: the toolkit's DOM decode and its streaming decode against
// libxml2's bare parse of the same bytes, and python3-zeep where it is installed.
//
//   bench_e2e [--sim PATH] [--seconds S] [--rate MS] [--quick]
//
// --quick runs only the 10,000-item case (both compressions). Nothing here fails a build.
#include <libxml/parser.h>
#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "LoadSubscription.h"
#include "model/Velqor.h"
#include "xmlda/VelqorSOAPCallIO.h"
#include "xmlda/VelqorXMLDAStream.h"

using namespace velqor;
using namespace velqor::bench;

namespace {

constexpr int kSimLoadItems = 100000;

double CpuSeconds(const rusage& u) {
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double SelfCpu() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return CpuSeconds(u);
}

long MaxRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// ---- the client, in a child process -------------------------------------------------------

// Runs groups x items against url, prints "READY" once the values flow and then one line
// "RESULT <values> <seconds> <cpu seconds> <peak KB above the start>".
int RunClient(const std::string& url, int items, int groups, int rateMs, double seconds,
              bool compress) {
    ApplicationHooks::SetMessageDisplay([](const std::string&) {});
    const long rss0 = MaxRssKb();
    PlainEventLoop loop;
    TVelqorServer server(&loop);
    server.SetServerName(url);
    if (!compress) server.SetParams({std::string(kParamCompress) + "=off"});
    server.OPCGroupDefault().UpdateRate = rateMs;
    for (int g = 0; g < groups; ++g) {
        TVelqorGroup* grp = server.OPCGroups().AddGroup("Load" + std::to_string(g));
        for (int i = 0; i < items; ++i)
            grp->OPCItems().AddItem(LoadItemID((g * items + i) % kSimLoadItems));
    }
    uint64_t delivered = 0;
    server.OnDatachange = [&](TVelqorServer*, const TVelqorItemList& list) {
        delivered += uint64_t(list.Count());
    };
    server.SetActive(true);
    loop.RunFor(std::chrono::milliseconds(1500));  // first values and a few polls
    std::printf("READY\n");
    std::fflush(stdout);
    const Span span = RunCounted(loop, delivered, seconds, SelfCpu);
    std::printf("RESULT %llu %.4f %.4f %ld\n", (unsigned long long)delivered, span.wall, span.cpu,
                MaxRssKb() - rss0);
    std::fflush(stdout);
    server.SetActive(false);
    return 0;
}

// ---- the simulator ------------------------------------------------------------------------

struct Sim {
    pid_t pid = -1;
    std::string url;
};

// The items change twice per update rate, so every poll finds each of them changed: the figures
// measure the client's delivery, not how the two clocks happen to line up.
int LoadPeriodMs(int rateMs) { return rateMs > 1 ? rateMs / 2 : 1; }

Sim StartSim(const std::string& path, int rateMs) {
    int out[2];
    if (pipe(out) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        const std::string period = std::to_string(LoadPeriodMs(rateMs));
        const std::string items = std::to_string(kSimLoadItems);
        execl(path.c_str(), path.c_str(), "--load-items", items.c_str(), "--load-period-ms",
              period.c_str(), "--max-body-bytes", "67108864", "--compress", "--threads", "128",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    Sim s;
    s.pid = pid;
    FILE* f = fdopen(out[0], "r");
    char line[512];
    if (f && std::fgets(line, sizeof line, f)) {
        const char* u = std::strstr(line, "url ");
        if (u) {
            s.url = u + 4;
            while (!s.url.empty() && (s.url.back() == '\n' || s.url.back() == '\r'))
                s.url.pop_back();
        }
    }
    if (f) std::fclose(f);
    return s;
}

void StopSim(const Sim& s) {
    if (s.pid <= 0) return;
    kill(s.pid, SIGTERM);
    int status = 0;
    waitpid(s.pid, &status, 0);
}

// ---- one case -----------------------------------------------------------------------------

struct CaseResult {
    int items = 0, groups = 0;
    bool compress = false;
    double valuesPerSecond = 0, cpuUsPerValue = 0, simCpuPerSecond = 0, peakBytesPerItem = 0;
    bool ok = false;
};

CaseResult RunCase(const std::string& self, const Sim& sim, int items, int groups, int rateMs,
                   double seconds, bool compress) {
    CaseResult r;
    r.items = items;
    r.groups = groups;
    r.compress = compress;
    char cmd[1024];
    std::snprintf(cmd, sizeof cmd, "'%s' --client '%s' %d %d %d %.2f %d", self.c_str(),
                  sim.url.c_str(), items, groups, rateMs, seconds, compress ? 1 : 0);
    FILE* p = popen(cmd, "r");
    if (!p) return r;
    char line[512];
    double simCpu0 = 0, simCpu1 = 0;
    while (std::fgets(line, sizeof line, p)) {
        if (!std::strncmp(line, "READY", 5)) simCpu0 = ProcessCpu(sim.pid);
        unsigned long long delivered = 0;
        double wall = 0, cpu = 0;
        long peakKb = 0;
        if (std::sscanf(line, "RESULT %llu %lf %lf %ld", &delivered, &wall, &cpu, &peakKb) == 4) {
            simCpu1 = ProcessCpu(sim.pid);
            r.ok = delivered > 0 && wall > 0;
            r.valuesPerSecond = double(delivered) / wall;
            r.cpuUsPerValue = delivered ? cpu * 1e6 / double(delivered) : 0;
            r.simCpuPerSecond = (simCpu1 - simCpu0) / wall;
            r.peakBytesPerItem = double(peakKb) * 1024.0 / double(items * groups);
        }
    }
    pclose(p);
    return r;
}

// ---- decoding one reply -------------------------------------------------------------------

size_t HeapInUse() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

// A polled-refresh reply of all `items` Load items, fetched plain.
std::string FetchReply(const std::string& url, int items) {
    TVelqorSOAPData settings = SoapSettings(url, false);
    auto poll = SubscribeLoad(settings, items, 1000);
    std::string action;
    const std::string body =
        WriteXmlDaRequest(settings.Namespace, "SubscriptionPolledRefresh", *poll, action);
    std::string reply;
    settings.Poster->Execute(action, body, reply);
    return reply;
}

// The DOM decode as the poll thread did it: the whole reply record, then the updates.
size_t DomDecode(const std::string& bytes, size_t* held) {
    const size_t before = HeapInUse();
    TVelqorSoapReader reader;
    reader.Parse(bytes);
    xmlda::SubscriptionPolledRefreshResponse reply;
    reader.ReadRecord(reader.ResultElement, reply);
    const size_t decoded = UpdatesOf(reply).size();
    if (held) *held = HeapInUse() - before;
    return decoded;
}

// The streaming decode as the poll thread does it: the updates straight from the stream.
size_t StreamDecode(const std::string& bytes, size_t* held) {
    const size_t before = HeapInUse();
    xmlda::SubscriptionPolledRefreshResponse reply;
    std::vector<ItemUpdate> updates;
    const bool streamed =
        StreamItemListReply(bytes, "SubscriptionPolledRefresh", reply,
                            [&](size_t list, std::unique_ptr<xmlda::ItemValue> v) {
                                uint32_t h = 0;
                                if (list == 0 && ParseClientHandle(v->ClientItemHandle, h))
                                    updates.push_back(UpdateFromItemValue(h, *v));
                            });
    if (held) *held = HeapInUse() - before;
    return streamed ? updates.size() : 0;
}

size_t BareParse(const std::string& bytes, size_t* held) {
    const size_t before = HeapInUse();
    xmlDoc* d = xmlReadMemory(bytes.data(), int(bytes.size()), nullptr, nullptr, XML_PARSE_NONET);
    if (held) *held = HeapInUse() - before;
    xmlFreeDoc(d);
    return d ? 1 : 0;
}

// python3-zeep's decode of the same reply, in milliseconds; < 0 when zeep is not installed.
double ZeepMs(const std::string& bytes) {
    if (std::system("python3 -c 'import zeep' >/dev/null 2>&1") != 0) return -1;
    char path[] = "/tmp/bench_e2e_reply_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return -1;
    if (write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) {
        close(fd);
        return -1;
    }
    close(fd);
    const std::string script =
        "import sys,time\n"
        "from lxml import etree\n"
        "from zeep.xsd import AnyObject\n"
        "import zeep.loader\n"
        "data=open(sys.argv[1],'rb').read()\n"
        "ts=[]\n"
        "for i in range(5):\n"
        "  t=time.perf_counter()\n"
        "  doc=zeep.loader.parse_xml(data, None)\n"
        "  n=[(e.get('ClientItemHandle'),e.findtext('{*}Value')) for e in doc.iter('{*}Items')]\n"
        "  ts.append(time.perf_counter()-t)\n"
        "ts.sort(); print(ts[len(ts)//2]*1000)\n";
    const std::string cmd = "python3 -c \"" + script + "\" " + path;
    FILE* p = popen(cmd.c_str(), "r");
    double ms = -1;
    if (p) {
        if (std::fscanf(p, "%lf", &ms) != 1) ms = -1;
        pclose(p);
    }
    unlink(path);
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 8 && !std::strcmp(argv[1], "--client"))
        return RunClient(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                         std::atof(argv[6]), std::atoi(argv[7]) != 0);

    std::string simPath = XMLDA_SIM_PATH;
    double seconds = 5;
    int rateMs = 100;
    bool quick = false;
    ReadOptions(
        argc, argv,
        {{"--sim", &simPath}, {"--seconds", &seconds}, {"--rate", &rateMs}, {"--quick", &quick}});
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return 1;
    self[n] = '\0';

    const Sim sim = StartSim(simPath, rateMs);
    if (sim.url.empty()) {
        std::fprintf(stderr, "xmlda-sim did not start (%s)\n", simPath.c_str());
        StopSim(sim);
        return 1;
    }
    std::vector<std::pair<int, int>> cases = {
        {1000, 1}, {10000, 1}, {100000, 1}, {1000, 10}, {1000, 50}};
    if (quick) cases = {{10000, 1}};

    std::printf(
        "xmlda-sim on loopback, Load items changing every %d ms, update rate %d ms, "
        "%.1f s per case\n",
        LoadPeriodMs(rateMs), rateMs, seconds);
    std::printf("%8s %6s %-9s %12s %12s %14s %14s\n", "items", "groups", "replies", "values/s",
                "client us/v", "sim CPU s/s", "client B/item");
    CaseResult headline;
    for (bool compress : {false, true})
        for (auto [items, groups] : cases) {
            const CaseResult r = RunCase(self, sim, items, groups, rateMs, seconds, compress);
            std::printf("%8d %6d %-9s %12.0f %12.2f %14.3f %14.0f%s\n", items, groups,
                        compress ? "gzip" : "plain", r.valuesPerSecond, r.cpuUsPerValue,
                        r.simCpuPerSecond, r.peakBytesPerItem, r.ok ? "" : "   (failed)");
            std::fflush(stdout);
            if (!compress && items == 10000 && groups == 1) headline = r;
        }

    // Decoding one reply of 10,000 items, side by side.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024 * 1024);  // large blocks stay visible to mallinfo2
    const std::string reply = FetchReply(sim.url, 10000);
    StopSim(sim);
    constexpr int kRuns = 15;
    size_t domHeld = 0, streamHeld = 0, bareHeld = 0;
    const size_t domItems = DomDecode(reply, &domHeld);
    const size_t streamItems = StreamDecode(reply, &streamHeld);
    BareParse(reply, &bareHeld);
    const double bare = MedianMs(kRuns, [&] { BareParse(reply, nullptr); });
    const double dom = MedianMs(kRuns, [&] { DomDecode(reply, nullptr); });
    const double stream = MedianMs(kRuns, [&] { StreamDecode(reply, nullptr); });
    std::printf("\ndecode of one polled-refresh reply, %zu items, %zu bytes (medians of %d):\n",
                domItems, reply.size(), kRuns);
    std::printf("  libxml2 bare DOM parse      %8.2f ms   %6.0f B/item held\n", bare,
                double(bareHeld) / double(domItems ? domItems : 1));
    std::printf("  toolkit DOM decode          %8.2f ms   %6.0f B/item held   ratio %.2f\n", dom,
                double(domHeld) / double(domItems ? domItems : 1), dom / bare);
    std::printf("  toolkit streaming decode    %8.2f ms   %6.0f B/item held   ratio %.2f%s\n",
                stream, double(streamHeld) / double(streamItems ? streamItems : 1), stream / bare,
                streamItems == domItems ? "" : "   (item counts differ)");
    const double zeep = ZeepMs(reply);
    if (zeep < 0)
        std::printf("  python3-zeep                not installed, skipped\n");
    else
        std::printf("  python3-zeep                %8.2f ms   ratio %.2f\n", zeep, zeep / bare);
    std::printf("client CPU per value: %.2f us at %.0f values/s\n", headline.cpuUsPerValue,
                headline.valuesPerSecond);
    std::printf("streaming decode / bare parse: %.2f\n", stream / bare);
    return 0;
}
