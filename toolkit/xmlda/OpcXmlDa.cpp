#include "xmlda/OpcXmlDa.h"

namespace velqor::xmlda {

namespace {

template <class R>
const RecordClass& ClassOf() {
    return R::StaticClass();
}

template <class R>
std::unique_ptr<TRemotable> Make() {
    return std::make_unique<R>();
}

struct Creator {
    std::string_view Name;
    std::unique_ptr<TRemotable> (*Create)();
};

std::unique_ptr<TRemotable> MakeRequestOptions() {
    auto o = std::make_unique<RequestOptions>();
    o->ReturnErrorText = true;
    return o;
}

// Tested in this order.
const Creator kCreators[] = {
    {"ItemIdentifier", &Make<ItemIdentifier>},
    {"RequestOptions", &MakeRequestOptions},
    {"ReadRequestItemList", &Make<ReadRequestItemList>},
    {"SubscribeRequestItemList", &Make<SubscribeRequestItemList>},
    {"ReplyBase", &Make<ReplyBase>},
    {"OPCError", &Make<OPCError>},
    {"ServerStatus", &Make<ServerStatus>},
    {"PropertyReplyList", &Make<PropertyReplyList>},
    {"BrowseElement", &Make<BrowseElement>},
    {"ItemProperty", &Make<ItemProperty>},
    {"SubscribeReplyItemList", &Make<SubscribeReplyItemList>},
    {"ItemValue", &Make<ItemValue>},
    {"ReplyItemList", &Make<ReplyItemList>},
    {"OPCQuality", &Make<OPCQuality>},
    {"SubscribePolledRefreshReplyItemList", &Make<SubscribePolledRefreshReplyItemList>},
    {"SubscribeItemValue", &Make<SubscribeItemValue>},
    {"SubscribeRequestItem", &Make<SubscribeRequestItem>},
    {"WriteRequestItemList", &Make<WriteRequestItemList>},
};

}  // namespace

#define VELQOR_OP(Req_) \
    { #Req_, &ClassOf < Req_>, &ClassOf < Req_##Response> }
const XmlDaOperationInfo kXmlDaOperations[8] = {
    VELQOR_OP(GetStatus),
    VELQOR_OP(Read),
    VELQOR_OP(Write),
    VELQOR_OP(Subscribe),
    VELQOR_OP(SubscriptionPolledRefresh),
    VELQOR_OP(SubscriptionCancel),
    VELQOR_OP(Browse),
    VELQOR_OP(GetProperties),
};
#undef VELQOR_OP

namespace {
// Every XML-DA record class is known by name from the start (FindRecordClass).
[[maybe_unused]] const bool kClassesRegistered = [] {
    for (const Creator& c : kCreators) (void)c.Create()->Class();
    for (const XmlDaOperationInfo& op : kXmlDaOperations) {
        (void)op.Request();
        (void)op.Reply();
    }
    return true;
}();
}  // namespace

std::string XmlDaSOAPAction(std::string_view operation) {
    std::string out(kXmlDaNamespace);
    out += operation;
    return out;
}

std::unique_ptr<TRemotable> CreateXmlDaObject(std::string_view className) {
    for (const Creator& c : kCreators)
        if (c.Name == className) return c.Create();
    throw Exception("class: " + std::string(className) + " not registerted in method CreateObject");
}

}  // namespace velqor::xmlda
