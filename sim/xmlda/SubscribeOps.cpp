// Subscribe, SubscriptionPolledRefresh and SubscriptionCancel.
#include <algorithm>

#include "xmlda/Operations.h"

namespace velqor::xmldasim {
namespace {

constexpr int kMinSamplingMs = 50;
constexpr long long kMaxHoldMs =
    10LL * 60 * 1000;  // hold and wait beyond this are refused or capped

int reviseRate(long long requested) {
    if (requested < kMinSamplingMs) return kMinSamplingMs;
    return static_cast<int>(std::min<long long>(requested, 24LL * 3600 * 1000));
}

// The sample as the client asked for it; "" or the result ID of a failed conversion.
std::string toRequested(const Sample& s, const std::optional<DataType>& reqType, Value* out) {
    if (!reqType) {
        *out = s.value;
        return {};
    }
    auto cv = convert(s.value, *reqType);
    *out = std::move(cv.value);
    return cv.resultId;
}

}  // namespace

void opSubscribe(Call& c) {
    const xmlNode* op = c.req.op;
    ReqOptions o = readOptions(op);
    const bool returnValues = boolAttr(op, "ReturnValuesOnReply", false);
    const auto pingRate = intAttr(op, "SubscriptionPingRate");
    const xmlNode* list = child(op, "ItemList");
    const std::string listPath = attrOr(list, "ItemPath");
    const std::string listReqType = attrOr(list, "ReqType");
    const double listDeadband = floatAttr(list, "Deadband").value_or(0);
    const auto listRate = intAttr(list, "RequestedSamplingRate");
    const int listRevised = reviseRate(listRate.value_or(0));

    struct Pending {
        ItemReply reply;
        std::optional<int> revisedRate;  // written when it differs from the list's
        Sample sample;
        Value value;
    };
    std::vector<Pending> replies;
    Subscription sub;
    sub.pingRateMs =
        static_cast<int>(std::clamp<long long>(pingRate.value_or(0), 0, 24LL * 3600 * 1000));
    sub.idleLimitMs = c.st.expireIdleMs;
    const TimePoint now = nowMs();
    for (const xmlNode* it : children(list, "Items")) {
        Pending p;
        ItemReply& ir = p.reply;
        ir.clientHandle = attrOr(it, "ClientItemHandle");
        ir.itemPath = attrOr(it, "ItemPath", listPath);
        ir.itemName = attrOr(it, "ItemName");
        bool unknownType = false;
        auto reqType = reqTypeOf(attrOr(it, "ReqType", listReqType), &unknownType);
        const double deadband = floatAttr(it, "Deadband").value_or(listDeadband);
        const auto rate = intAttr(it, "RequestedSamplingRate");
        int node = resolveItem(c.st.space, ir.itemPath, ir.itemName, &ir.resultId);
        if (node >= 0 && c.st.space.node(node).item.access == Access::Write)
            ir.resultId = "E_WRITEONLY";
        else if (node >= 0 && unknownType)
            ir.resultId = "E_BADTYPE";
        else if (node >= 0 && !(deadband >= 0 && deadband <= 100))  // NaN too
            ir.resultId = "E_RANGE";
        if (ir.resultId.empty()) {
            p.sample = c.st.space.sample(node, now);
            ir.resultId = toRequested(p.sample, reqType, &p.value);
        }
        if (ir.resultId.empty()) {
            SubItem si;
            si.node = node;
            si.clientHandle = ir.clientHandle;
            si.itemPath = ir.itemPath;
            si.itemName = ir.itemName;
            si.reqType = reqType;
            si.deadband = deadband;
            si.samplingMs = rate ? reviseRate(*rate) : listRevised;
            if (rate && si.samplingMs != *rate) p.revisedRate = si.samplingMs;
            if (returnValues) {
                si.lastSent = p.sample;
                ir.value = &p.value;  // fixed up below: replies may still move
                ir.quality = &p.sample.quality;
                ir.timestamp = p.sample.timestamp;
            }
            sub.items.push_back(std::move(si));
        } else {
            ir.diagnostic = resultText(ir.resultId);
        }
        replies.push_back(std::move(p));
    }

    std::string handle;
    if (!sub.items.empty()) {
        handle = c.st.subs.add(std::move(sub));
        if (handle.empty())
            throw SoapFault{false, "E_OUTOFMEMORY",
                            "The server already holds its limit of " +
                                std::to_string(c.st.subs.limit()) +
                                " subscriptions. Cancel one, or wait until one expires: a "
                                "subscription not polled for twice its ping rate is dropped."};
    }

    ReplyNode r = c.w.operation("SubscribeResponse");
    replyBase(c, r, "SubscribeResult", o.clientRequestHandle, o.localeId);
    ReplyNode rlist = c.w.element(r, "RItemList");
    if (listRate && listRevised != *listRate)
        c.w.attr(rlist, "RevisedSamplingRate", std::to_string(listRevised));
    ErrorList errors;
    for (auto& p : replies) {
        if (p.reply.value) {
            p.reply.value = &p.value;
            p.reply.quality = &p.sample.quality;
        }
        ReplyNode e = c.w.element(rlist, "Items");
        writeItemValue(c.w, e, "ItemValue", p.reply, o);
        if (p.revisedRate) c.w.attr(e, "RevisedSamplingRate", std::to_string(*p.revisedRate));
        errors.use(p.reply.resultId);
    }
    errors.write(c.w, r, o.returnErrorText);
    if (!handle.empty()) c.w.attr(r, "ServerSubHandle", handle);
}

void opPolledRefresh(Call& c) {
    const xmlNode* op = c.req.op;
    ReqOptions o = readOptions(op);
    std::vector<std::string> handles;
    for (const xmlNode* h : children(op, "ServerSubHandles")) handles.push_back(text(h));
    auto hold = timeAttr(op, "HoldTime");
    const long long waitMs =
        std::clamp<long long>(intAttr(op, "WaitTime").value_or(0), 0, kMaxHoldMs);
    const bool returnAll = boolAttr(op, "ReturnAllItems", false);
    const long long maxHold = c.st.maxHoldMs > 0 ? c.st.maxHoldMs : kMaxHoldMs;
    if ((hold && (*hold - c.rcvTime).count() > maxHold) ||
        (c.st.maxHoldMs > 0 && intAttr(op, "WaitTime").value_or(0) > maxHold))
        throw SoapFault{true, "E_INVALIDHOLDTIME", resultText("E_INVALIDHOLDTIME")};

    PollAnswer a = c.st.subs.poll(handles, hold, static_cast<int>(waitMs), returnAll, c.st.space);

    ReplyNode r = c.w.operation("SubscriptionPolledRefreshResponse");
    replyBase(c, r, "SubscriptionPolledRefreshResult", o.clientRequestHandle, o.localeId);
    for (const auto& h : a.invalid) c.w.element(r, "InvalidServerSubHandles", &h);
    ErrorList errors;
    for (const auto& [handle, items] : a.lists) {
        if (items.empty()) continue;
        ReplyNode list = c.w.element(r, "RItemList");
        c.w.attr(list, "SubscriptionHandle", handle);
        for (const auto& [si, sample] : items) {
            ItemReply ir;
            ir.clientHandle = si.clientHandle;
            ir.itemPath = si.itemPath;
            ir.itemName = si.itemName;
            Value v;
            ir.resultId = toRequested(sample, si.reqType, &v);
            writeItemResult(c.w, list, ir, v, sample, errors, o);
        }
    }
    errors.write(c.w, r, o.returnErrorText);
}

void opSubscriptionCancel(Call& c) {
    const xmlNode* op = c.req.op;
    const std::string handle = attrOr(op, "ServerSubHandle");
    if (!c.st.subs.cancel(handle))
        throw SoapFault{true, "E_NOSUBSCRIPTION", resultText("E_NOSUBSCRIPTION")};
    ReplyNode r = c.w.operation("SubscriptionCancelResponse");
    const std::string crh = attrOr(op, "ClientRequestHandle");
    if (!crh.empty()) c.w.attr(r, "ClientRequestHandle", crh);
}

}  // namespace velqor::xmldasim
