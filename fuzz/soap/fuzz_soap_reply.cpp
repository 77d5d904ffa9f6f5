// The SOAP reader on hostile replies: parse, then read the body's element into every XML-DA
// reply record. Toolkit errors are expected; anything else (a crash, a foreign exception, a
// sanitizer report) is a finding.
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "xmlda/VelqorSOAPCallIO.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", "America/New_York", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    velqor::TVelqorSoapReader reader;
    try {
        reader.Parse(bytes);
    } catch (const velqor::Exception&) {
        return 0;
    }
    for (const auto& op : velqor::xmlda::kXmlDaOperations) {
        auto reply = op.Reply().Create();
        try {
            reader.ReadRecord(reader.ResultElement, *reply);
        } catch (const velqor::Exception&) {
        }
    }
    return 0;
}
