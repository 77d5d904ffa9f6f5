// Decoding a SubscriptionPolledRefreshResponse of 10,000 items and encoding a Subscribe of
// 10,000 items, beside the floor: libxml2 alone parsing the same bytes. Prints items and bytes
// per second, the decode-to-parse ratio of the medians, and the peak memory per decoded item.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "MemoryTracking.h"
#include "xmlda/VelqorSOAPCall.h"
#include "xmlda/VelqorSOAPCallIO.h"

using namespace velqor;
using namespace velqor::xmlda;
using velqor::bench::gLive;
using velqor::bench::gPeak;

namespace {

// ---- inputs ----------------------------------------------------------------------------------

constexpr int kItems = 10000;

std::string TypedValue(const std::string& type, const std::string& text) {
    return "<Value xsi:type=\"" + type + "\">" + text + "</Value>";
}

std::string MakeReply() {
    std::string s =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope "
        "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
        "xmlns:ns1=\"http://opcfoundation.org/webservices/XMLDA/1.0/\"><SOAP-ENV:Header></"
        "SOAP-ENV:Header>"
        "<SOAP-ENV:Body id=\"_0\"><SubscriptionPolledRefreshResponse "
        "xmlns=\"http://opcfoundation.org/webservices/XMLDA/1.0/\" DataBufferOverflow=\"false\">"
        "<SubscriptionPolledRefreshResult xsi:type=\"ns1:ReplyBase\" ServerState=\"running\" "
        "RevisedLocaleID=\"en-us\" "
        "ReplyTime=\"2026-08-24T18:12:18.002+00:00\" RcvTime=\"2026-08-24T18:12:17.624+00:00\" "
        "ClientRequestHandle=\"7hoCsQfNqZMpHuxH\"></SubscriptionPolledRefreshResult>"
        "<RItemList xsi:type=\"ns1:SubscribePolledRefreshReplyItemList\" "
        "SubscriptionHandle=\"163121520\">";
    char buf[512];
    for (int i = 0; i < kItems; ++i) {
        std::string value;
        const std::string n = std::to_string(i);
        switch (i % 10) {
            case 0:
                value = TypedValue("xsd:float", n + ".25");
                break;
            case 1:
                value = TypedValue("xsd:int", std::to_string(-i));
                break;
            case 2:
                value = TypedValue("xsd:unsignedInt", std::to_string(i * 7));
                break;
            case 3:
                value = TypedValue("xsd:string", "text value " + n);
                break;
            case 4:
                value = TypedValue("xsd:boolean", "true");
                break;
            case 5:
                value = TypedValue("xsd:dateTime", "2026-08-24T16:12:16.726+00:00");
                break;
            case 6:
                value = TypedValue("xsd:double", n + ".4000000000000004");
                break;
            case 7: {
                std::string doubles;
                for (int k = 0; k < 8; ++k)
                    doubles += "<double>" + std::to_string(i + k) + ".5</double>";
                value = TypedValue("ns1:ArrayOfDouble", doubles);
                break;
            }
            case 8:
                value = TypedValue("ns1:ArrayOfString",
                                   "<string>a</string><string>bb</string><string>ccc</string>");
                break;
            default:
                value = TypedValue("xsd:unsignedShort", std::to_string(i % 65536));
                break;
        }
        std::snprintf(
            buf, sizeof buf,
            "<Items xsi:type=\"ns1:ItemValue\" Timestamp=\"2026-08-24T16:12:16.%03d+00:00\" "
            "ClientItemHandle=\"%d\" ItemName=\"\" ItemPath=\"\">",
            i % 1000, 100000 + i);
        s += buf;
        s += value;
        s += "<Quality xsi:type=\"ns1:OPCQuality\" VendorField=\"0\" LimitField=\"none\" "
             "QualityField=\"good\"></Quality></Items>";
    }
    s += "</RItemList></SubscriptionPolledRefreshResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>";
    return s;
}

const std::string& Reply() {
    static const std::string r = MakeReply();
    return r;
}

std::unique_ptr<Subscribe> MakeSubscribe() {
    auto s = std::make_unique<Subscribe>();
    s->Options = std::make_unique<RequestOptions>();
    s->Options->ReturnErrorText = true;
    s->Options->ReturnItemTime = true;
    s->Options->LocaleID = "en";
    s->ReturnValuesOnReply = true;
    s->SubscriptionPingRate = 10000;
    s->ItemList.push_back(std::make_unique<SubscribeRequestItemList>());
    s->ItemList[0]->RequestedSamplingRate = 1000;
    s->ItemList[0]->Items = TVelqorSOAPWriter::NewRecordArray<SubscribeRequestItem>(kItems);
    for (int i = 0; i < kItems; ++i) {
        auto& it = *s->ItemList[0]->Items[size_t(i)];
        it.ItemName = "Plant/Area" + std::to_string(i % 17) + "/Tag" + std::to_string(i);
        it.ClientItemHandle = std::to_string(100000 + i);
        it.Deadband = i % 3 ? 0.0f : 0.5f;
        it.ReqType = i % 5 ? "" : "xsd:double";
    }
    return s;
}

constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_NOCDATA |
                              XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

// ---- benchmarks ------------------------------------------------------------------------------

void BM_Libxml2Parse(benchmark::State& state) {
    const std::string& xml = Reply();
    for (auto _ : state) {
        xmlDoc* doc = xmlReadMemory(xml.data(), int(xml.size()), nullptr, nullptr, kParseOptions);
        benchmark::DoNotOptimize(doc);
        xmlFreeDoc(doc);
    }
    state.SetItemsProcessed(state.iterations() * kItems);
    state.SetBytesProcessed(state.iterations() * int64_t(xml.size()));
}

void BM_DecodePolledRefresh(benchmark::State& state) {
    const std::string& xml = Reply();
    for (auto _ : state) {
        TVelqorSoapReader reader;
        reader.Parse(xml);
        auto reply = std::make_unique<SubscriptionPolledRefreshResponse>();
        reader.ReadRecord(reader.ResultElement, *reply);
        if (reply->RItemList.empty() || reply->RItemList[0]->Items.size() != size_t(kItems))
            state.SkipWithError("wrong item count");
        benchmark::DoNotOptimize(reply);
    }
    state.SetItemsProcessed(state.iterations() * kItems);
    state.SetBytesProcessed(state.iterations() * int64_t(xml.size()));
}

void BM_EncodeSubscribe(benchmark::State& state) {
    auto request = MakeSubscribe();
    size_t bytes = 0;
    for (auto _ : state) {
        std::string action;
        std::string body = WriteXmlDaRequest({}, "Subscribe", *request, action);
        bytes = body.size();
        benchmark::DoNotOptimize(body);
    }
    state.SetItemsProcessed(state.iterations() * kItems);
    state.SetBytesProcessed(state.iterations() * int64_t(bytes));
}

BENCHMARK(BM_Libxml2Parse)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_DecodePolledRefresh)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_EncodeSubscribe)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

// Keeps the medians to print the ratio at the end.
class MedianReporter : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> Medians, CpuMedians;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") {
                Medians[r.run_name.function_name] = r.GetAdjustedRealTime();
                CpuMedians[r.run_name.function_name] = r.GetAdjustedCPUTime();
            }
        ConsoleReporter::ReportRuns(runs);
    }
};

void PeakMemoryPerItem() {
    const std::string& xml = Reply();
    long long base = gLive.load();
    gPeak = base;
    {
        TVelqorSoapReader reader;
        reader.Parse(xml);
        auto reply = std::make_unique<SubscriptionPolledRefreshResponse>();
        reader.ReadRecord(reader.ResultElement, *reply);
        long long afterTree = gLive.load();
        reader.Parse(
            "<e:Envelope xmlns:e=\"urn:e\"><e:Body><x/></e:Body></e:Envelope>");  // drop the
                                                                                  // document
        long long recordsOnly = gLive.load();
        std::printf(
            "Decode memory: peak %.0f bytes per item (document + records), records alone %.0f "
            "bytes per item, "
            "document %.0f bytes per item; reply %zu bytes = %.0f bytes per item\n",
            double(gPeak.load() - base) / kItems, double(recordsOnly - base) / kItems,
            double(afterTree - recordsOnly) / kItems, xml.size(), double(xml.size()) / kItems);
    }
}

}  // namespace

int main(int argc, char** argv) {
    bench::TrackXmlMemory();
    xmlInitParser();
    (void)Reply();
    benchmark::Initialize(&argc, argv);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto parse = reporter.Medians.find("BM_Libxml2Parse");
    auto decode = reporter.Medians.find("BM_DecodePolledRefresh");
    if (parse != reporter.Medians.end() && decode != reporter.Medians.end()) {
        double pc = reporter.CpuMedians["BM_Libxml2Parse"],
               dc = reporter.CpuMedians["BM_DecodePolledRefresh"];
        std::printf(
            "\nDecode / bare libxml2 parse, medians (goal: at most 3x):\n"
            "  wall time %.2f ms / %.2f ms = %.2fx\n  CPU time  %.2f ms / %.2f ms = %.2fx\n",
            decode->second, parse->second, decode->second / parse->second, dc, pc, dc / pc);
    }
    PeakMemoryPerItem();
    benchmark::Shutdown();
    return 0;
}
