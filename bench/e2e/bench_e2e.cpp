// End to end over XML-DA on loopback: xmlda-sim runs as a separate process, the client (the
// component model with its XML-DA groups and poll threads) in a child process of this program,
// one child per case, so that its CPU (getrusage, all threads) and its peak memory are its own.
//
// For each case (items per group x groups, at the update rate) and for replies plain and
// compressed, it prints the values delivered per second, the client's CPU per value, the
// simulator's CPU per second and the client's peak memory per item; the 10,000-item case also
// on the simulator's mixed Load items (arrays, nil values, dates). Then the decode of one
// 10,000-item polled-refresh reply of each kind: the toolkit's DOM and streaming decodes against
// libxml2's bare SAX and DOM parses of the same bytes, timed in alternating rounds, and
// python3-zeep decoding it by the service description where zeep is installed.
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
#include "soap/dom/VelqorXmlEvents.h"
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

Sim StartSim(const std::string& path, int rateMs, bool mixed) {
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
              mixed ? "--load-mixed" : static_cast<char*>(nullptr), static_cast<char*>(nullptr));
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

// ---- tagscope-cli watch, CSV to a file ----------------------------------------------------

struct CliRun {
    unsigned long long values = 0;
    double cpu = 0;   // seconds, all its threads
    long peakKb = 0;  // peak resident memory
    bool ok = false;
};

// Runs tagscope-cli watch of the ids in idsFile at rateMs for `seconds`, CSV into a file.
CliRun RunCli(const std::string& url, const std::string& idsFile, int rateMs, double seconds) {
    CliRun r;
    char out[] = "/tmp/bench_e2e_watch_XXXXXX";
    const int fd = mkstemp(out);
    if (fd < 0) return r;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fd, 1);
        const std::string rate = std::to_string(rateMs), secs = std::to_string(seconds);
        execl(TAGSCOPE_CLI_PATH, TAGSCOPE_CLI_PATH, "watch", url.c_str(), "--items-file",
              idsFile.c_str(), "--rate", rate.c_str(), "--seconds", secs.c_str(), "--format", "csv",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fd);
    int status = 0;
    rusage u{};
    if (pid > 0 && wait4(pid, &status, 0, &u) == pid && WIFEXITED(status) &&
        WEXITSTATUS(status) == 0) {
        r.ok = true;
        r.cpu = CpuSeconds(u);
        r.peakKb = u.ru_maxrss;
        std::ifstream f(out, std::ios::binary);
        char buf[1 << 16];
        while (f.read(buf, sizeof buf) || f.gcount() > 0)
            r.values += std::count(buf, buf + f.gcount(), '\n');
        if (r.values > 0) --r.values;  // the header line
    }
    unlink(out);
    return r;
}

struct CliFigures {
    double usPerValue = 0, valuesPerSecond = 0, bytesPerItem = 0;
    bool ok = false;
};

// The CLI's CPU per value from a short and a long run (their difference leaves out connecting
// and subscribing), and its peak memory per item at 10,000 items against 10 items.
CliFigures MeasureCli(const std::string& url, int rateMs, double seconds) {
    CliFigures c;
    char few[] = "/tmp/bench_e2e_ids10_XXXXXX", many[] = "/tmp/bench_e2e_ids_XXXXXX";
    const int f1 = mkstemp(few), f2 = mkstemp(many);
    if (f1 < 0 || f2 < 0) return c;
    std::string ids;
    for (int i = 0; i < 10000; ++i) {
        ids += LoadItemID(i) + "\n";
        if (i == 9) (void)!write(f1, ids.data(), ids.size());
    }
    (void)!write(f2, ids.data(), ids.size());
    close(f1);
    close(f2);
    const CliRun small = RunCli(url, few, rateMs, seconds);
    const CliRun shortRun = RunCli(url, many, rateMs, seconds);
    const CliRun longRun = RunCli(url, many, rateMs, 2 * seconds);
    unlink(few);
    unlink(many);
    c.ok = small.ok && shortRun.ok && longRun.ok && longRun.values > shortRun.values;
    if (!c.ok) return c;
    const double values = double(longRun.values - shortRun.values);
    c.usPerValue = (longRun.cpu - shortRun.cpu) * 1e6 / values;
    c.valuesPerSecond = values / seconds;
    c.bytesPerItem = double(std::max(shortRun.peakKb, longRun.peakKb) - small.peakKb) * 1024.0 /
                     (10000.0 - 10.0);
    return c;
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
                            [&](size_t list, std::unique_ptr<TRemotable> entry) {
                                const auto& v = static_cast<const xmlda::ItemValue&>(*entry);
                                uint32_t h = 0;
                                if (list == 0 && ParseClientHandle(v.ClientItemHandle, h))
                                    updates.push_back(UpdateFromItemValue(h, v));
                            });
    if (held) *held = HeapInUse() - before;
    return streamed ? updates.size() : 0;
}

// The floors: libxml2 reading the same bytes and doing nothing with them, as events (SAX2,
// which the streaming reader is built on, with handlers that do nothing) and as a tree.
void NoStart(void*, const xmlChar*, const xmlChar*, const xmlChar*, int, const xmlChar**, int, int,
             const xmlChar**) {}
void NoEnd(void*, const xmlChar*, const xmlChar*, const xmlChar*) {}
void NoText(void*, const xmlChar*, int) {}

size_t BareSax(const std::string& bytes, size_t*) {
    xmlSAXHandler sax;
    std::memset(&sax, 0, sizeof sax);
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = &NoStart;
    sax.endElementNs = &NoEnd;
    sax.characters = &NoText;
    return xmlSAXUserParseMemory(&sax, nullptr, bytes.data(), int(bytes.size())) == 0 ? 1 : 0;
}

size_t BareDom(const std::string& bytes, size_t* held) {
    const size_t before = HeapInUse();
    xmlDoc* d = xmlReadMemory(bytes.data(), int(bytes.size()), nullptr, nullptr, XML_PARSE_NONET);
    if (held) *held = HeapInUse() - before;
    xmlFreeDoc(d);
    return d ? 1 : 0;
}

// The toolkit's event parse alone (the markup pre-scan, the parser as the streaming reader sets
// it up, handlers that do nothing): what the streaming reader pays before reading anything.
struct NoWork : dom::XmlEventHandler {
    bool StartElement(std::string_view, std::string_view, const dom::XmlAttributeView*,
                      size_t) override {
        return true;
    }
    bool EndElement() override { return true; }
    bool Text(std::string_view) override { return true; }
};

size_t EventsOnly(const std::string& bytes, size_t*) {
    NoWork h;
    return dom::ParseEvents(bytes, h) == dom::XmlEventResult::Done ? 1 : 0;
}

// A Python that has zeep, or "".
std::string ZeepPython() {
    for (const char* py : {"/usr/bin/python3", "python3"})
        if (std::system((std::string(py) + " -c 'import zeep' >/dev/null 2>&1").c_str()) == 0)
            return py;
    return {};
}

// python3-zeep decoding the same reply into objects by the service description, as a zeep
// client of the service does with the reply it receives (parse, then deserialise): the median
// of `runs` in milliseconds, < 0 when zeep cannot be run or does not read the reply.
double ZeepMs(const std::string& python, const std::string& bytes, size_t items, int runs) {
    char path[] = "/tmp/bench_e2e_reply_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return -1;
    const bool written = write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    close(fd);
    const std::string script =
        "import sys,time\n"
        "import zeep,zeep.loader\n"
        "op=zeep.Client(sys.argv[1]).service._binding._operations['SubscriptionPolledRefresh']\n"
        "data=open(sys.argv[2],'rb').read()\n"
        "ts=[]\n"
        "for i in range(int(sys.argv[3])):\n"
        "  t=time.perf_counter()\n"
        "  r=op.process_reply(zeep.loader.parse_xml(data,None))\n"
        "  ts.append(time.perf_counter()-t)\n"
        "ts.sort(); print(ts[len(ts)//2]*1000, len(r['RItemList'][0]['Items']))\n";
    const std::string cmd = python + " -c \"" + script + "\" " + BENCH_WSDL_PATH + " " + path +
                            " " + std::to_string(runs) + " 2>/dev/null";
    double ms = -1;
    size_t n = 0;
    if (written)
        if (FILE* p = popen(cmd.c_str(), "r")) {
            if (std::fscanf(p, "%lf %zu", &ms, &n) != 2 || n != items) ms = -1;
            pclose(p);
        }
    unlink(path);
    return ms;
}

// The decoders compared, each timed once per round, the rounds alternating between them.
struct Decoder {
    const char* name;
    size_t (*run)(const std::string&, size_t*);
    std::vector<double> ms;
    size_t held = 0, result = 0;
};

// One reply decoded every way; prints a block of lines and returns decode / bare SAX.
double CompareDecoders(const char* what, const std::string& reply, const std::string& python) {
    constexpr int kRounds = 15;
    Decoder decoders[] = {{"libxml2 bare SAX parse", &BareSax, {}},
                          {"libxml2 bare DOM parse", &BareDom, {}},
                          {"toolkit events, no handling", &EventsOnly, {}},
                          {"toolkit DOM decode", &DomDecode, {}},
                          {"toolkit streaming decode", &StreamDecode, {}}};
    for (Decoder& d : decoders) d.result = d.run(reply, &d.held);  // warm, and what it holds
    for (int r = 0; r < kRounds; ++r)
        for (Decoder& d : decoders) {
            const auto t0 = Clock::now();
            d.run(reply, nullptr);
            d.ms.push_back(MsSince(t0));
        }
    const size_t items = decoders[3].result;
    const double sax = Median(decoders[0].ms);
    std::printf(
        "\ndecode of one %s polled-refresh reply, %zu items, %zu bytes (medians of %d "
        "alternating rounds):\n",
        what, items, reply.size(), kRounds);
    for (Decoder& d : decoders) {
        const double ms = Median(d.ms);
        std::printf("  %-28s %8.2f ms   x%.2f of bare SAX", d.name, ms, ms / sax);
        if (d.held) std::printf("   %6.0f B/item held", double(d.held) / double(items ? items : 1));
        std::printf("%s\n",
                    &d == &decoders[4] && d.result != items ? "   (item counts differ)" : "");
    }
    if (!python.empty()) {
        const double zeep = ZeepMs(python, reply, items, 5);
        if (zeep >= 0)
            std::printf("  %-28s %8.2f ms   x%.2f of bare SAX (median of 5, separate process)\n",
                        "python3-zeep", zeep, zeep / sax);
    }
    return Median(decoders[4].ms) / sax;
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

    const Sim sim = StartSim(simPath, rateMs, false);
    const Sim mixedSim = StartSim(simPath, rateMs, true);
    if (sim.url.empty() || mixedSim.url.empty()) {
        std::fprintf(stderr, "xmlda-sim did not start (%s)\n", simPath.c_str());
        StopSim(sim);
        StopSim(mixedSim);
        return 1;
    }
    std::vector<std::pair<int, int>> cases = {
        {1000, 1}, {10000, 1}, {100000, 1}, {1000, 10}, {1000, 50}};
    if (quick) cases = {{10000, 1}};

    std::printf(
        "xmlda-sim on loopback, Load items changing every %d ms, update rate %d ms, "
        "%.1f s per case; the client counts values in its data-change callback\n",
        LoadPeriodMs(rateMs), rateMs, seconds);
    std::printf("%8s %6s %-14s %12s %12s %14s %14s\n", "items", "groups", "replies", "values/s",
                "client us/v", "sim CPU s/s", "client B/item");
    auto show = [](const CaseResult& r, const char* replies) {
        std::printf("%8d %6d %-14s %12.0f %12.2f %14.3f %14.0f%s\n", r.items, r.groups, replies,
                    r.valuesPerSecond, r.cpuUsPerValue, r.simCpuPerSecond, r.peakBytesPerItem,
                    r.ok ? "" : "   (failed)");
        std::fflush(stdout);
    };
    CaseResult headline;
    for (bool compress : {false, true})
        for (auto [items, groups] : cases) {
            const CaseResult r = RunCase(self, sim, items, groups, rateMs, seconds, compress);
            show(r, compress ? "gzip" : "plain");
            if (!compress && items == 10000 && groups == 1) headline = r;
        }
    // 5 % arrays of doubles and strings, 2 % nil values, 10 % date-times, the rest ints.
    const CaseResult mixed = RunCase(self, mixedSim, 10000, 1, rateMs, seconds, false);
    show(mixed, "plain, mixed");
    const CliFigures cli = MeasureCli(sim.url, rateMs, seconds);
    const CliFigures mixedCli = MeasureCli(mixedSim.url, rateMs, seconds);

    // Decoding one reply of 10,000 items, side by side.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024 * 1024);  // large blocks stay visible to mallinfo2
    const std::string reply = FetchReply(sim.url, 10000);
    const std::string mixedReply = FetchReply(mixedSim.url, 10000);
    StopSim(sim);
    StopSim(mixedSim);
    const std::string python = ZeepPython();
    if (python.empty()) std::printf("\n(python3-zeep not found: no peer line)\n");
    const double scalarRatio = CompareDecoders("all-scalar", reply, python);
    const double mixedRatio = CompareDecoders("mixed", mixedReply, python);
    std::printf(
        "\nsummary, 10,000 items at %d ms (toolkit: the component model with a counting callback; "
        "tagscope-cli: watch with CSV to a file, CPU of all its threads, peak RSS against 10 "
        "items):\n",
        rateMs);
    std::printf("%-12s %12s %24s %14s %24s %14s\n", "reply", "decode/SAX",
                "toolkit us/v at values/s", "toolkit B/item", "cli us/v at values/s", "cli B/item");
    auto line = [](const char* what, double ratio, const CaseResult& t, const CliFigures& c) {
        std::printf("%-12s %12.2f %12.2f at %8.0f %14.0f", what, ratio, t.cpuUsPerValue,
                    t.valuesPerSecond, t.peakBytesPerItem);
        if (c.ok)
            std::printf(" %12.2f at %8.0f %14.0f\n", c.usPerValue, c.valuesPerSecond,
                        c.bytesPerItem);
        else
            std::printf(" %24s %14s\n", "(failed)", "");
    };
    line("all-scalar", scalarRatio, headline, cli);
    line("mixed", mixedRatio, mixed, mixedCli);
    return 0;
}
