#include "SessionFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "contract/VelqorError.h"
#include "contract/VelqorItemId.h"

using namespace velqor;
using nlohmann::json;

namespace {
const char* const kFormat = "tagscope-session";
constexpr int kVersion = 1;
// Sessions are a few kilobytes; a bigger file is not one, and reading it would cost seconds
// and many times its size in memory.
constexpr std::streamoff kMaxSessionBytes = 16 << 20;

[[noreturn]] void Malformed(const std::string& path, const std::string& why) {
    throw Exception("\"" + path + "\" is not a usable session file: " + why);
}

// The range a number must lie in (whole numbers: also int32).
struct Range {
    double lo = INT32_MIN, hi = INT32_MAX;
};

std::string RangeText(const Range& r) {
    auto text = [](double v) {
        return v == double(int64_t(v)) ? std::to_string(int64_t(v)) : std::to_string(v);
    };
    return "out of range (" + text(r.lo) + " to " + text(r.hi) + ")";
}

// A field of an object, checked for its kind and, for a number, its range; absent gives the
// default when one is allowed.
template <class T>
T Field(const json& o, const char* name, const std::string& where, const std::string& path,
        const T* fallback = nullptr, Range range = {}) {
    auto it = o.find(name);
    if (it == o.end()) {
        if (fallback) return *fallback;
        Malformed(path, where + " has no \"" + name + "\"");
    }
    try {
        if constexpr (std::is_same_v<T, bool>) {
            if (!it->is_boolean()) throw std::runtime_error("not true or false");
        } else if constexpr (std::is_arithmetic_v<T>) {
            if (!it->is_number()) throw std::runtime_error("not a number");
            if constexpr (std::is_integral_v<T>) {
                if (!it->is_number_integer()) throw std::runtime_error("not a whole number");
            }
            // Unsigned numbers are compared as such: 2^64-1 must not pass as -1.
            const double v = it->is_number_unsigned()  ? double(it->get<uint64_t>())
                             : it->is_number_integer() ? double(it->get<int64_t>())
                                                       : it->get<double>();
            if (!(v >= range.lo && v <= range.hi)) throw std::runtime_error(RangeText(range));
        } else {
            if (!it->is_string()) throw std::runtime_error("not a text");
        }
        return it->get<T>();
    } catch (const std::exception& e) {
        Malformed(path, where + ": \"" + name + "\" is " + e.what());
    }
}
}  // namespace

Session CaptureSession(TVelqorServer& server) {
    Session s;
    s.Server = server.ServerName();
    s.Computer = server.ComputerName();
    TVelqorGroups& groups = server.OPCGroups();
    for (int i = 0; i < groups.Count(); ++i) {
        TVelqorGroup& g = *groups.Items(i);
        SessionGroup sg;
        sg.Name = g.Name();
        sg.Active = g.IsActive();
        sg.UpdateRate = g.UpdateRate();
        sg.DeadBand = g.DeadBand();
        sg.TimeBias = g.TimeBias();
        sg.LocaleId = g.LocaleId();
        sg.HoldTime = g.XMLHoldtime();
        sg.WaitTime = g.XMLWaittime();
        for (int k = 0; k < g.OPCItems().Count(); ++k) {
            const TVelqorItem& item = *g.OPCItems().Items(k);
            sg.Items.push_back(
                {item.ItemID(), item.AccessPath(), item.IsActive(), item.RequestedDatatype()});
        }
        s.Groups.push_back(std::move(sg));
    }
    return s;
}

void SaveSessionFile(const Session& s, const std::string& path) {
    json groups = json::array();
    for (const SessionGroup& g : s.Groups) {
        json items = json::array();
        for (const SessionItem& i : g.Items) {
            json item = {{"itemID", i.ItemID}, {"active", i.Active}};
            if (!i.AccessPath.empty()) item["accessPath"] = i.AccessPath;
            if (i.RequestedType != 0) item["requestedType"] = i.RequestedType;
            items.push_back(std::move(item));
        }
        groups.push_back({{"name", g.Name},
                          {"active", g.Active},
                          {"updateRate", g.UpdateRate},
                          {"deadBand", g.DeadBand},
                          {"timeBias", g.TimeBias},
                          {"localeId", g.LocaleId},
                          {"holdTime", g.HoldTime},
                          {"waitTime", g.WaitTime},
                          {"items", std::move(items)}});
    }
    const json doc = {{"format", kFormat},
                      {"version", kVersion},
                      {"server", s.Server},
                      {"computer", s.Computer},
                      {"groups", std::move(groups)}};
    const std::string text = doc.dump(2) + "\n";
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f || !f.write(text.data(), std::streamsize(text.size())) || !f.flush())
        throw Exception("Cannot write the session file " + path + ": " + std::strerror(errno));
}

Session LoadSessionFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw Exception("Cannot read the session file " + path + ": " + std::strerror(errno));
    f.seekg(0, std::ios::end);
    const std::streamoff size = f.tellg();
    if (size > kMaxSessionBytes)
        Malformed(path, "it is larger than " + std::to_string(kMaxSessionBytes >> 20) + " MiB");
    f.seekg(0);
    std::string text(size_t(std::max<std::streamoff>(size, 0)), '\0');
    text.resize(size_t(f.read(text.data(), std::streamsize(text.size())).gcount()));
    json doc;
    try {
        doc = json::parse(text);
    } catch (const json::parse_error& e) {
        // The library's text names the byte offset of the fault.
        Malformed(path, std::string("not valid JSON (") + e.what() + ")");
    } catch (const json::exception&) {
        Malformed(path, "it holds a number too large to read");
    }
    if (!doc.is_object()) Malformed(path, "not a JSON object");
    if (Field<std::string>(doc, "format", "the file", path) != kFormat)
        Malformed(path, "its \"format\" is not \"" + std::string(kFormat) + "\"");
    const int version = Field<int>(doc, "version", "the file", path);
    if (version != kVersion)
        Malformed(path, "version " + std::to_string(version) + " is not known here");
    Session s;
    const std::string empty;
    s.Server = Field<std::string>(doc, "server", "the file", path);
    s.Computer = Field<std::string>(doc, "computer", "the file", path, &empty);
    auto groups = doc.find("groups");
    if (groups == doc.end() || !groups->is_array()) Malformed(path, "\"groups\" is not a list");
    std::set<std::string> names;
    const SessionGroup defaults;
    const SessionItem itemDefaults;
    for (size_t gi = 0; gi < groups->size(); ++gi) {
        const json& g = (*groups)[gi];
        const std::string where = "group " + std::to_string(gi + 1);
        if (!g.is_object()) Malformed(path, where + " is not an object");
        SessionGroup sg;
        sg.Name = Field<std::string>(g, "name", where, path);
        if (sg.Name.find_first_not_of(' ') == std::string::npos)
            Malformed(path, where + " has an empty name");
        if (!names.insert(sg.Name).second)
            Malformed(path, "two groups are named \"" + sg.Name + "\"");
        sg.Active = Field<bool>(g, "active", where, path, &defaults.Active);
        sg.UpdateRate = Field<int32_t>(g, "updateRate", where, path, &defaults.UpdateRate,
                                       {kMinUpdateRateMs, INT32_MAX});
        sg.DeadBand = Field<float>(g, "deadBand", where, path, &defaults.DeadBand, {0, 100});
        sg.TimeBias = Field<int32_t>(g, "timeBias", where, path, &defaults.TimeBias);
        sg.LocaleId = Field<int32_t>(g, "localeId", where, path, &defaults.LocaleId);
        sg.HoldTime =
            Field<int32_t>(g, "holdTime", where, path, &defaults.HoldTime, {0, INT32_MAX});
        sg.WaitTime =
            Field<int32_t>(g, "waitTime", where, path, &defaults.WaitTime, {0, INT32_MAX});
        auto items = g.find("items");
        if (items == g.end() || !items->is_array())
            Malformed(path, where + ": \"items\" is not a list");
        for (size_t ii = 0; ii < items->size(); ++ii) {
            const json& i = (*items)[ii];
            const std::string at = where + ", item " + std::to_string(ii + 1);
            if (!i.is_object()) Malformed(path, at + " is not an object");
            SessionItem si;
            si.ItemID = Field<std::string>(i, "itemID", at, path);
            if (si.ItemID.empty()) Malformed(path, at + " has an empty \"itemID\"");
            si.AccessPath = Field<std::string>(i, "accessPath", at, path, &empty);
            if (std::max(si.ItemID.size(), si.AccessPath.size()) > kMaxItemIdBytes)
                Malformed(path,
                          at + " is longer than " + std::to_string(kMaxItemIdBytes) + " bytes");
            si.Active = Field<bool>(i, "active", at, path, &itemDefaults.Active);
            si.RequestedType =
                Field<int32_t>(i, "requestedType", at, path, &itemDefaults.RequestedType);
            sg.Items.push_back(std::move(si));
        }
        s.Groups.push_back(std::move(sg));
    }
    return s;
}

void ApplySession(const Session& s, TVelqorServer& server) {
    server.OPCGroups().RemoveAll();
    server.SetComputerName(s.Computer);
    server.SetServerName(s.Server);
    AddSessionGroups(s, server);
}

void AddSessionGroups(const Session& s, TVelqorServer& server) {
    for (const SessionGroup& sg : s.Groups) {
        TVelqorGroup* g = server.OPCGroups().AddGroup(sg.Name);
        g->SetIsActive(sg.Active);
        g->SetUpdateRate(sg.UpdateRate);
        g->SetDeadBand(sg.DeadBand);
        g->SetTimeBias(sg.TimeBias);
        g->SetLocaleId(sg.LocaleId);
        g->SetXMLHoldtime(sg.HoldTime);
        g->SetXMLWaittime(sg.WaitTime);
        for (const SessionItem& si : sg.Items) {
            g->DefaultItem().IsActive = si.Active;
            g->DefaultItem().AccessPath = si.AccessPath;
            TVelqorItem* item = g->OPCItems().AddItem(si.ItemID);
            if (si.RequestedType != 0) item->SetRequestDatatype(si.RequestedType);
        }
        g->DefaultItem().IsActive = true;
        g->DefaultItem().AccessPath.clear();
    }
}
