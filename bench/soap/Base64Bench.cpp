// Big base64Binary values: decoding a ReadResponse body of 4 MB and of 60 MB of base64 text,
// then writing the values back into a Write request. Prints, per size, the wall time of each
// step and the peak memory (C++ and libxml2 allocations) against the body.
#include <libxml/parser.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "MemoryTracking.h"
#include "soap/VelqorSOAPEncoding.h"
#include "xmlda/VelqorSOAPCall.h"
#include "xmlda/VelqorSOAPCallIO.h"

using namespace velqor;
using namespace velqor::xmlda;
using velqor::bench::gLive;
using velqor::bench::gPeak;

namespace {

// A ReadResponse whose items hold base64 values, 4 MB of text each (libxml2 refuses a single
// text node beyond 10 MB), about bodyBytes in all.
std::string MakeReply(size_t bodyBytes) {
    constexpr size_t kPerItem = 4'000'000;
    std::string bytes(kPerItem / 4 * 3, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char((i * 131 + 7) & 0xFF);
    const std::string text = Base64Encode(bytes);
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><soap:Envelope "
        "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"><soap:Body><ReadResponse "
        "xmlns=\"http://opcfoundation.org/webservices/XMLDA/1.0/\"><ReadResult "
        "ServerState=\"running\"/><RItemList>";
    for (size_t n = 0; n * kPerItem < bodyBytes; ++n)
        xml += "<Items ItemName=\"Blob" + std::to_string(n) + "\" ClientItemHandle=\"" +
               std::to_string(n) + "\"><Value xsi:type=\"xsd:base64Binary\">" + text +
               "</Value></Items>";
    return xml + "</RItemList></ReadResponse></soap:Body></soap:Envelope>";
}

double MsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

void Measure(const char* label, size_t bodyBytes) {
    const std::string xml = MakeReply(bodyBytes);
    const long long base = gLive.load();
    gPeak = base;
    auto t0 = std::chrono::steady_clock::now();
    size_t decoded = 0;
    double decodeMs = 0, encodeMs = 0;
    long long decodePeak = 0;
    {
        auto reply = std::make_unique<ReadResponse>();
        {
            TVelqorSoapReader reader;
            reader.Parse(xml);
            reader.ReadRecord(reader.ResultElement, *reply);
        }
        decodeMs = MsSince(t0);
        decodePeak = gPeak.load() - base;
        for (const auto& item : reply->RItemList.at(0)->Items) decoded += item->Value.ArrayCount();

        gPeak = gLive.load();
        const long long encodeBase = gLive.load();
        t0 = std::chrono::steady_clock::now();
        Write request;
        request.ItemList.push_back(std::make_unique<WriteRequestItemList>());
        for (const auto& read : reply->RItemList.at(0)->Items) {
            auto item = std::make_unique<ItemValue>();
            item->ItemName = read->ItemName;
            item->Value = read->Value;
            request.ItemList[0]->Items.push_back(std::move(item));
        }
        std::string action;
        const std::string body = WriteXmlDaRequest({}, "Write", request, action);
        encodeMs = MsSince(t0);
        std::printf(
            "%s: body %.1f MB, %zu bytes decoded; decode %.0f ms, peak %.1f MB (%.1fx "
            "the body); encode %.0f ms, peak %.1f MB over the decoded values, request "
            "%.1f MB\n",
            label, double(xml.size()) / 1e6, decoded, decodeMs, double(decodePeak) / 1e6,
            double(decodePeak) / double(xml.size()), encodeMs,
            double(gPeak.load() - encodeBase) / 1e6, double(body.size()) / 1e6);
    }
}

}  // namespace

int main() {
    bench::TrackXmlMemory();
    xmlInitParser();
    Measure("4 MB", 4'000'000);
    Measure("60 MB", 60'000'000);
    return 0;
}
