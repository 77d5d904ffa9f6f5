#include "xmlda/Operations.h"

namespace velqor::xmldasim {

TimePoint nowMs() { return std::chrono::time_point_cast<std::chrono::milliseconds>(Clock::now()); }

void dispatch(Call& c) {
    const std::string& op = c.req.opName;
    if (op == "GetStatus") return opGetStatus(c);
    if (op == "Read") return opRead(c);
    if (op == "Write") return opWrite(c);
    if (op == "Browse") return opBrowse(c);
    if (op == "GetProperties") return opGetProperties(c);
    if (op == "Subscribe") return opSubscribe(c);
    if (op == "SubscriptionPolledRefresh") return opPolledRefresh(c);
    if (op == "SubscriptionCancel") return opSubscriptionCancel(c);
    throw SoapFault{true, "", "Unknown operation " + op + "."};
}

ReqOptions readOptions(const xmlNode* op) {
    ReqOptions o;
    const xmlNode* n = child(op, "Options");
    if (!n) return o;
    o.returnErrorText = boolAttr(n, "ReturnErrorText", true);
    o.returnDiagnosticInfo = boolAttr(n, "ReturnDiagnosticInfo", false);
    o.returnItemTime = boolAttr(n, "ReturnItemTime", false);
    o.returnItemPath = boolAttr(n, "ReturnItemPath", false);
    o.returnItemName = boolAttr(n, "ReturnItemName", false);
    o.clientRequestHandle = attrOr(n, "ClientRequestHandle");
    o.localeId = attrOr(n, "LocaleID");
    o.deadline = timeAttr(n, "RequestDeadline");
    if (o.deadline && *o.deadline < nowMs())
        throw SoapFault{false, "E_TIMEDOUT",
                        "The request deadline had passed when the request arrived."};
    return o;
}

void replyBase(Call& c, ReplyNode parent, const char* name, const std::string& clientRequestHandle,
               const std::string& localeId) {
    ReplyNode n = c.w.element(parent, name);
    c.w.attr(n, "RcvTime", formatDateTime(c.rcvTime));
    c.w.attr(n, "ReplyTime", formatDateTime(nowMs()));
    if (!clientRequestHandle.empty()) c.w.attr(n, "ClientRequestHandle", clientRequestHandle);
    // Only English texts: any other requested locale is answered in "en".
    if (!localeId.empty() && localeId != "en" && localeId != "en-US" && localeId != "en-us")
        c.w.attr(n, "RevisedLocaleID", "en");
    c.w.attr(n, "ServerState", c.st.serverState);
}

std::string resultText(const std::string& id) {
    static const std::map<std::string, std::string> texts{
        {"E_UNKNOWNITEMNAME", "The item name is no longer available in the server address space."},
        {"E_UNKNOWNITEMPATH", "The item path is no longer available in the server address space."},
        {"E_INVALIDITEMNAME", "The item name does not conform to the server's syntax."},
        {"E_BADTYPE",
         "The server cannot convert the data between the requested data type and the canonical "
         "data type."},
        {"E_RANGE", "The value was out of range."},
        {"E_READONLY", "The item is read only and cannot be written."},
        {"E_WRITEONLY",
         "The item is write only and cannot be read or returned in a write response."},
        {"E_INVALIDPID", "The property is not valid for the item."},
        {"E_NOSUBSCRIPTION", "An invalid set of subscription handles was passed to the request."},
        {"E_INVALIDHOLDTIME", "The hold time is too far in the future."},
        {"E_INVALIDCONTINUATIONPOINT", "The continuation point is not valid."},
        {"E_INVALIDFILTER", "The filter string is not valid."},
        {"E_OUTOFMEMORY", "The server has no room for another subscription."},
        {"E_FAIL", "Unspecified error."},
        {"S_UNSUPPORTEDRATE",
         "The server does not support the requested rate but will use the closest available rate."},
    };
    auto it = texts.find(id);
    return it == texts.end() ? id : it->second;
}

void ErrorList::write(ReplyWriter& w, ReplyNode parent, bool withText) const {
    for (const auto& [id, unused] : ids_) {
        (void)unused;
        ReplyNode e = w.element(parent, "Errors");
        w.attr(e, "ID", id);
        if (withText) {
            std::string t = w.style().errorText.empty() ? resultText(id) : w.style().errorText;
            w.element(e, "Text", &t);
        }
    }
}

int resolveItem(const AddressSpace& space, const std::string& itemPath, const std::string& itemName,
                std::string* resultId) {
    if (itemName.empty()) {
        *resultId = "E_INVALIDITEMNAME";
        return -1;
    }
    std::string id = itemName;
    if (!itemPath.empty()) {
        int branch = space.find(itemPath);
        if (branch < 0 || space.node(branch).isItem) {
            *resultId = "E_UNKNOWNITEMPATH";
            return -1;
        }
        id = space.node(branch).id.empty() ? itemName : space.node(branch).id + "/" + itemName;
    }
    int n = space.find(id);
    if (n < 0 || !space.node(n).isItem) {
        *resultId = "E_UNKNOWNITEMNAME";
        return -1;
    }
    return n;
}

void writeQuality(ReplyWriter& w, ReplyNode parent, const char* name, const Quality& q) {
    ReplyNode e = w.element(parent, name);
    w.attr(e, "QualityField", q.quality);
    if (q.limit != "none") w.attr(e, "LimitField", q.limit);
}

void writeItemResult(ReplyWriter& w, ReplyNode parent, ItemReply& ir, const Value& value,
                     const Sample& sample, ErrorList& errors, const ReqOptions& o) {
    if (ir.resultId.empty()) {
        ir.value = &value;
        ir.quality = &sample.quality;
        ir.timestamp = sample.timestamp;
    } else {
        ir.diagnostic = resultText(ir.resultId);
    }
    errors.use(ir.resultId);
    writeItemValue(w, parent, "Items", ir, o);
}

ReplyNode writeItemValue(ReplyWriter& w, ReplyNode parent, const char* name, const ItemReply& r,
                         const ReqOptions& o) {
    ReplyNode e = w.element(parent, name);
    if (o.returnDiagnosticInfo && !r.diagnostic.empty())
        w.element(e, "DiagnosticInfo", &r.diagnostic);
    if (r.value) w.value(e, "Value", *r.value);
    if (r.quality) writeQuality(w, e, "Quality", *r.quality);
    if (o.returnItemPath) w.attr(e, "ItemPath", r.itemPath);
    if (o.returnItemName) w.attr(e, "ItemName", r.itemName);
    if (!r.clientHandle.empty()) w.attr(e, "ClientItemHandle", r.clientHandle);
    if (o.returnItemTime && r.timestamp) w.attr(e, "Timestamp", formatDateTime(*r.timestamp));
    if (!r.resultId.empty()) w.attr(e, "ResultID", r.resultId);
    return e;
}

std::optional<DataType> reqTypeOf(const std::string& text, bool* unknown) {
    *unknown = false;
    if (text.empty()) return std::nullopt;
    auto t = typeFromName(text);
    if (!t) *unknown = true;
    return t;
}

void opGetStatus(Call& c) {
    const xmlNode* op = c.req.op;
    ReplyNode r = c.w.operation("GetStatusResponse");
    replyBase(c, r, "GetStatusResult", attrOr(op, "ClientRequestHandle"), attrOr(op, "LocaleID"));
    ReplyNode s = c.w.element(r, "Status");
    c.w.attr(s, "StartTime", formatDateTime(c.st.startTime));
    c.w.attr(s, "ProductVersion", c.st.productVersion);
    const std::string info = c.st.serverState == "running"
                                 ? "The simulation is running."
                                 : "The simulation is " + c.st.serverState + ".";
    const std::string vendor = "Tagscope XML-DA simulation service";
    const std::string en = "en", enUs = "en-US", version = "XML_DA_Version_1_0";
    c.w.element(s, "StatusInfo", &info);
    c.w.element(s, "VendorInfo", &vendor);
    c.w.element(s, "SupportedLocaleIDs", &en);
    c.w.element(s, "SupportedLocaleIDs", &enUs);
    c.w.element(s, "SupportedInterfaceVersions", &version);
}

void opRead(Call& c) {
    const xmlNode* op = c.req.op;
    ReqOptions o = readOptions(op);
    const xmlNode* list = child(op, "ItemList");
    const std::string listPath = attrOr(list, "ItemPath");
    const std::string listReqType = attrOr(list, "ReqType");
    const auto listMaxAge = intAttr(list, "MaxAge");

    ReplyNode r = c.w.operation("ReadResponse");
    replyBase(c, r, "ReadResult", o.clientRequestHandle, o.localeId);
    ReplyNode rlist = c.w.element(r, "RItemList");
    ErrorList errors;
    const TimePoint now = nowMs();
    for (const xmlNode* it : children(list, "Items")) {
        ItemReply ir;
        ir.clientHandle = attrOr(it, "ClientItemHandle");
        ir.itemPath = attrOr(it, "ItemPath", listPath);
        ir.itemName = attrOr(it, "ItemName");
        const auto maxAge = intAttr(it, "MaxAge");
        bool unknownType = false;
        auto reqType = reqTypeOf(attrOr(it, "ReqType", listReqType), &unknownType);
        int node = resolveItem(c.st.space, ir.itemPath, ir.itemName, &ir.resultId);
        Sample s;
        Value converted;
        if (node >= 0 && c.st.space.node(node).item.access == Access::Write)
            ir.resultId = "E_WRITEONLY";
        else if (node >= 0 && unknownType)
            ir.resultId = "E_BADTYPE";
        if (ir.resultId.empty()) {
            s = c.st.space.read(node, now, maxAge ? *maxAge : listMaxAge ? *listMaxAge : 0);
            converted = s.value;
            if (reqType) {
                auto cv = convert(s.value, *reqType);
                ir.resultId = cv.resultId;
                converted = std::move(cv.value);
            }
        }
        writeItemResult(c.w, rlist, ir, converted, s, errors, o);
    }
    errors.write(c.w, r, o.returnErrorText);
}

void opWrite(Call& c) {
    const xmlNode* op = c.req.op;
    ReqOptions o = readOptions(op);
    const bool returnValues = boolAttr(op, "ReturnValuesOnReply", false);
    const xmlNode* list = child(op, "ItemList");
    const std::string listPath = attrOr(list, "ItemPath");

    ReplyNode r = c.w.operation("WriteResponse");
    replyBase(c, r, "WriteResult", o.clientRequestHandle, o.localeId);
    ReplyNode rlist = c.w.element(r, "RItemList");
    ErrorList errors;
    bool wrote = false;
    for (const xmlNode* it : children(list, "Items")) {
        ItemReply ir;
        ir.clientHandle = attrOr(it, "ClientItemHandle");
        ir.itemPath = attrOr(it, "ItemPath", listPath);
        ir.itemName = attrOr(it, "ItemName");
        int node = resolveItem(c.st.space, ir.itemPath, ir.itemName, &ir.resultId);
        const ItemDef* def = node >= 0 ? &c.st.space.node(node).item : nullptr;
        if (def && def->access == Access::Read) ir.resultId = "E_READONLY";
        std::optional<Value> incoming;
        if (ir.resultId.empty()) {
            const xmlNode* v = child(it, "Value");
            if (!v)
                ir.resultId = "E_BADTYPE";  // nothing to write
            else
                incoming = readValue(v, &ir.resultId);
        }
        const TimePoint now = nowMs();
        if (ir.resultId.empty()) {
            auto cv = convert(*incoming, def->type);
            ir.resultId = cv.resultId;
            if (ir.resultId.empty()) ir.resultId = c.st.space.write(node, cv.value, now);
            if (ir.resultId.empty()) wrote = true;
        }
        Sample s;
        Value back;
        if (ir.resultId.empty() && returnValues) {
            if (def->access == Access::Write) {
                ir.resultId = "E_WRITEONLY";  // written, but cannot be read back
            } else {
                s = c.st.space.read(node, now, 0);
                back = s.value;
                bool unknownType = false;
                auto reqType = reqTypeOf(attrOr(it, "ReqType"), &unknownType);
                if (reqType) {
                    auto cb = convert(s.value, *reqType);
                    if (cb.resultId.empty()) back = std::move(cb.value);
                }
                ir.value = &back;
                ir.quality = &s.quality;
                ir.timestamp = s.timestamp;
            }
        }
        if (!ir.resultId.empty()) ir.diagnostic = resultText(ir.resultId);
        errors.use(ir.resultId);
        writeItemValue(c.w, rlist, "Items", ir, o);
    }
    errors.write(c.w, r, o.returnErrorText);
    if (wrote) c.st.subs.notifyChange();
}

}  // namespace velqor::xmldasim
