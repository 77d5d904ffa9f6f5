#include "Payload.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "contract/VelqorDateTime.h"
#include "contract/VelqorIntf.h"
#include "contract/VelqorItemData.h"

namespace tagscope::bridge {

using namespace velqor;

std::string UtcIsoText(double local) {
    const DateTimeParts p = DecodeDateTime(LocalToUtc(local));
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", p.Year, p.Month, p.Day,
                  p.Hour, p.Minute, p.Second, p.Millisecond);
    return buf;
}

std::string PayloadWriter::Of(const TVelqorItemData& item, bool notConnected) {
    const int32_t quality = notConnected ? kQualityBadNotConnected : item.Quality();
    const int32_t type = item.Value().IsEmpty() ? item.CanonicalDatatype() : item.Value().Type();
    std::string out = "{\"value\":";
    out += notConnected ? std::string("null") : JsonValue(item.Value());
    out += ",\"quality\":" + JsonString(QualityText(quality));
    out += ",\"qualityCode\":" + std::to_string(quality & 0xFFFF);
    out += ",\"timestamp\":";
    out += item.TimeStamp() == 0 || notConnected ? std::string("null")
                                                 : JsonString(stamps_.Of(item.TimeStamp()));
    out += ",\"type\":" + JsonString(VarTypeName(type));
    if (!notConnected && item.Error() < 0) out += ",\"error\":" + JsonString(item.ErrorText());
    out += '}';
    return out;
}

namespace {

std::string ScalarText(const nlohmann::json& v) {
    if (v.is_string()) return v.get<std::string>();
    if (v.is_boolean() || v.is_number()) return v.dump();
    throw std::invalid_argument(v.is_null() ? "the value is null"
                                            : "the value is not a number, "
                                              "text, truth value or list");
}

}  // namespace

std::string WriteTextFromJson(const std::string& text) {
    nlohmann::json v;
    try {
        v = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& e) {
        throw std::invalid_argument(std::string("not JSON: ") + e.what());
    }
    if (v.is_object()) {
        auto it = v.find("value");
        if (it == v.end()) throw std::invalid_argument("the object has no \"value\"");
        v = *it;
    }
    if (!v.is_array()) return ScalarText(v);
    std::string out;
    for (const auto& e : v) {
        const std::string t = ScalarText(e);
        // ";" separates the elements of the text form; an element holding one would split.
        if (t.find(';') != std::string::npos)
            throw std::invalid_argument("a list element holds \";\", which cannot be written");
        out += t + ";";
    }
    return out;
}

std::string WriteResultJson(const std::string& error) {
    return error.empty() ? "{\"ok\":true}" : "{\"ok\":false,\"error\":" + JsonString(error) + "}";
}

}  // namespace tagscope::bridge
