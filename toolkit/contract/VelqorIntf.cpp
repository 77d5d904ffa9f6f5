#include "VelqorIntf.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>

namespace velqor {

namespace {

struct ResultRow {
    uint32_t code;
    const char* name;
    std::initializer_list<const char*> accepted;
    const char* message;
};

const ResultRow kResults[] = {
    {0x0004000DU,
     "S_UNSUPPORTEDRATE",
     {"S_UNSUPPORTEDRATE"},
     "The server does not support the requested data rate\r\nbut will use the closest available "
     "rate."},
    {0x0004000EU,
     "S_CLAMP",
     {"S_CLAMP"},
     "A value passed to WRITE was accepted but the output was clamped."},
    {0x0004000FU,
     "S_INUSE",
     {"S_INUSE"},
     "The operation cannot be completed because the\r\nobject still has references that exist."},
    {0x00040200U,
     "S_ALREADYACKED",
     {"S_ALREADYACKED"},
     "The condition has already been acknowleged."},
    {0x00040201U,
     "S_INVALIDBUFFERTIME",
     {"S_INVALIDBUFFERTIME"},
     "The buffer time parameter was invalid."},
    {0x00040202U, "S_INVALIDMAXSIZE", {"S_INVALIDMAXSIZE"}, "The max size parameter was invalid."},
    {0x00040203U,
     "S_INVALIDKEEPALIVETIME",
     {"S_INVALIDKEEPALIVETIME"},
     "The KeepAliveTime parameter was invalid."},
    {0x00040303U,
     "S_LOW_AUTHN_LEVEL",
     {"S_LOW_AUTHN_LEVEL"},
     "OPC Security: Server expected higher level of package privacy."},
    {0x00040404U,
     "S_DATAQUEUEOVERFLOW",
     {"S_DATAQUEUEOVERFLOW"},
     "Not every detected change has been returned since the server's buffer reached its limit and "
     "had to purge out the oldest data."},
    {0x40041002U, "S_NODATA", {"S_NODATA"}, "There is no data within the specified parameter."},
    {0x40041003U,
     "S_MOREDATA",
     {"S_MOREDATA"},
     "There is more data satisfying the query than was returned."},
    {0x40041005U,
     "S_CURRENTVALUE",
     {"S_CURRENTVALUE"},
     "The server only returns current values for the requested item attributes."},
    {0x40041006U,
     "S_EXTRADATA",
     {"S_EXTRADATA"},
     "Additional data satisfying the query was found."},
    {0x4004100EU, "S_INSERTED", {"S_INSERTED"}, "The requested insert occured."},
    {0x4004100FU, "S_REPLACED", {"S_REPLACED"}, "The requested replace occured."},
    {0x80041007U, "W_NOFILTER", {"W_NOFILTER"}, "The server does not support this filter."},
    {0xC0040001U, "E_INVALIDHANDLE", {"E_INVALIDHANDLE"}, "The value of the handle is invalid."},
    {0xC0040004U,
     "E_BADTYPE",
     {"E_BADTYPE"},
     "The server cannot convert the data between the\r\nrequested data type and the canonical "
     "data"},
    {0xC0040005U,
     "E_PUBLIC",
     {"E_PUBLIC"},
     "The requested operation cannot be done on a public group."},
    {0xC0040006U,
     "E_BADRIGHTS",
     {"E_BADRIGHTS"},
     "The Items AccessRights do not allow the operation."},
    {0xC0040007U,
     "E_UNKNOWNITEMNAME",
     {"E_UNKNOWNITEMID", "E_UNKNOWNITEMNAME", "E_UNKNOWN_ITEM_NAME"},
     "The item is no longer available in the server address space."},
    {0xC0040008U,
     "E_INVALIDITEMNAME",
     {"E_INVALIDITEMID", "E_INVALIDITEMNAME"},
     "The item definition doesn't conform to the server's syntax."},
    {0xC0040009U, "E_INVALIDFILTER", {"E_INVALIDFILTER"}, "The filter string was not valid"},
    {0xC004000AU,
     "E_INVALIDITEMPATH",
     {"E_UNKNOWNPATH", "E_INVALIDITEMPATH"},
     "The item's access path is not known to the server."},
    {0xC004000BU, "E_RANGE", {"E_RANGE"}, "The value was out of range."},
    {0xC004000CU, "E_DUPLICATENAME", {"E_DUPLICATENAME"}, "Duplicate name not allowed."},
    {0xC0040010U,
     "E_INVALIDCONFIGFILE",
     {"E_INVALIDCONFIGFILE"},
     "The server's configuration file is an invalid format."},
    {0xC0040011U,
     "E_NOTFOUND",
     {"E_NOTFOUND"},
     "The server could not locate the requested object."},
    {0xC0040203U,
     "E_INVALIDPID",
     {"E_INVALIDPID", "E_INVALIDBRANCHNAME"},
     "The server does not recognise the passed property ID."},
    {0xC0040204U, "E_INVALIDTIME", {"E_INVALIDTIME"}, "invalid time format."},
    {0xC0040205U, "E_BUSY", {"E_BUSY"}, "A refresh is currently in progress."},
    {0xC0040206U, "E_NOINFO", {"E_NOINFO"}, "Information is not available."},
    {0xC0040301U,
     "E_PRIVATE_ACTIVE",
     {"E_PRIVATE_ACTIVE"},
     "OPC Security: A session using private OPC credentials is already active."},
    {0xC0040302U,
     "E_LOW_IMPERS_LEVEL",
     {"E_LOW_IMPERS_LEVEL"},
     "OPC Security: Server requires higher impersonation level to access secured data."},
    {0xC0040400U,
     "E_DEADBANDNOTSET",
     {"E_DEADBANDNOTSET"},
     "The item deadband has not been set for this item."},
    {0xC0040401U,
     "E_DEADBANDNOTSUPPORTED",
     {"E_DEADBANDNOTSUPPORTED"},
     "The item does not support deadband."},
    {0xC0040402U,
     "E_NOBUFFERING",
     {"E_NOBUFFERING"},
     "The server does not support buffering of data items that are collected at a faster rate than "
     "the group update rate."},
    {0xC0040403U,
     "E_INVALIDCONTINUATIONPOINT",
     {"E_INVALIDCONTINUATIONPOINT"},
     "The continuation point is not valid."},
    {0xC0040405U,
     "E_RATENOTSET",
     {"E_RATENOTSET"},
     "There is no sampling rate set for the specified item."},
    {0xC0040406U,
     "E_NOTSUPPORTED",
     {"E_NOTSUPPORTED"},
     "The server does not support writing of quality and/or timestamp."},
    {0xC0040407U,
     "E_UNKNOWN",
     {"E_STALEVALUE"},
     "The value is time stamped older than the requested maximum age."},
    {0xC0040408U,
     "E_WRITEONLY",
     {"E_WRITEONLY"},
     "The item is write only and cannot be read or returned in a Write response"},
    {0xC0040409U, "E_READONLY", {"E_READONLY"}, "The value is read only and may not be written to"},
    {0xC0041001U,
     "E_MAXEXCEEDED",
     {"E_MAXEXCEEDED"},
     "The maximum number of values requested exceeds the server's limit."},
    {0xC0041004U,
     "E_INVALIDAGGREGATE",
     {"E_INVALIDAGGREGATE"},
     "The aggregate requested is not valid."},
    {0xC0041008U,
     "E_UNKNOWNATTRID",
     {"E_UNKNOWNATTRID"},
     "The server does not support this attribute."},
    {0xC0041009U,
     "E_NOT_AVAIL",
     {"E_NOT_AVAIL"},
     "The requested aggregate is not available for the specified item."},
    {0xC004100AU,
     "E_INVALIDDATATYPE",
     {"E_INVALIDDATATYPE"},
     "The supplied value for the attribute is not a correct data type."},
    {0xC004100BU, "E_DATAEXISTS", {"E_DATAEXISTS"}, "Unable to insert - data already present."},
    {0xC004100CU,
     "E_INVALIDATTRID",
     {"E_INVALIDATTRID"},
     "The supplied attribute ID is not valid."},
    {0xC004100DU,
     "E_NODATAEXISTS",
     {"E_NODATAEXISTS"},
     "The server has no value for the specified time and item ID."},
};

struct PropertyRow {
    int32_t id;
    const char* lookup;
    const char* formatted;
};

const PropertyRow kProperties[] = {
    {1, "datatype", "dataType"},
    {2, "value", "value"},
    {3, "quality", "quality"},
    {4, "timestamp", "timestamp"},
    {5, "accessrights", "accessRights"},
    {6, "scanrate", "scanRate"},
    {7, "eutype", "euType"},
    {8, "euinfo", "euInfo"},
    {100, "engineeringunits", "engineeringUnits"},
    {101, "description", "description"},
    {102, "higheu", "highEU"},
    {103, "loweu", "lowEU"},
    {104, "highir", "highIR"},
    {105, "lowir", "lowIR"},
    {106, "closelabel", "closeLabel"},
    {107, "openlabel", "openLabel"},
    {108, "timezone", "timeZone"},
    {600, "typesystemid", "typeSystemID"},
    {601, "dictionaryid", "dictionaryID"},
    {602, "typeid", "typeID"},
    {603, "dictionary", "dictionary"},
    {604, "typedescription", "typeDescription"},
    {605, "consistencywindow", "consistencyWindow"},
    {606, "writebehavior", "writeBehavior"},
    {607, "unconverteditemid", "unconvertedItemID"},
    {608, "unfiltereditemid", "unfilteredItemID"},
    {609, "datafiltervalue", "dataFilterValue"},
};

const ResultRow* FindResult(int32_t code) {
    for (const auto& r : kResults)
        if (int32_t(r.code) == code) return &r;
    return nullptr;
}

std::atomic<int32_t> g_lastResult{0};

}  // namespace

std::string ResultMessage(int32_t code) {
    const ResultRow* r = FindResult(code);
    return r ? r->message : "";
}

std::string ResultName(int32_t code) {
    const ResultRow* r = FindResult(code);
    return r ? r->name : "E_UNKNOWN";
}

int32_t ResultCodeFromName(std::string_view name) {
    if (name.empty()) return 0;
    for (const auto& r : kResults)
        for (const char* a : r.accepted)
            if (name == a) return int32_t(r.code);
    return 1;
}

int32_t PropertyIdFromName(std::string_view name) {
    for (;;) {
        std::string lower(name);
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        for (const auto& p : kProperties)
            if (lower == p.lookup) return p.id;
        size_t colon = name.find(':');
        if (colon == std::string_view::npos) break;
        name = name.substr(colon + 1);
    }
    int64_t v;
    if (ParseInt64(name, v) && v >= INT32_MIN && v <= INT32_MAX &&
        name.find(' ') == std::string_view::npos)
        return int32_t(v);
    return -999999;
}

std::string PropertyNameFromId(int32_t id) {
    for (const auto& p : kProperties)
        if (p.id == id) return p.formatted;
    return std::to_string(id);
}

int32_t EUTypeFromName(std::string_view name) {
    if (name == "analog") return 1;
    if (name == "enumerated") return 2;
    return 0;
}

std::string ServerStateText(int32_t state) {
    switch (state) {
        case 1:
            return "running";
        case 2:
            return "failed";
        case 3:
            return "no config";
        case 4:
            return "suspended";
        case 5:
            return "test";
        default:
            return "";
    }
}

std::string CombineItemID(std::string_view itemPath, std::string_view itemName) {
    if (itemPath.empty()) return std::string(itemName);
    std::string s(itemPath);
    s += "//";
    s += itemName;
    return s;
}

std::pair<std::string, std::string> SplitItemID(std::string_view combined) {
    size_t p = combined.find("//");
    if (p == std::string_view::npos) return {std::string(), std::string(combined)};
    return {std::string(combined.substr(0, p)), std::string(combined.substr(p + 2))};
}

void RaiseComError(int32_t code) {
    g_lastResult.store(code);
    std::string msg = ResultMessage(code);
    if (msg.empty()) throw EOleSysError(code);
    throw EOPCException(msg + " " + ResultName(code));
}

void OleCheck(int32_t code) {
    g_lastResult.store(code);
    if (code < 0) RaiseComError(code);
}

int32_t LastCheckedResult() { return g_lastResult.load(); }

}  // namespace velqor
