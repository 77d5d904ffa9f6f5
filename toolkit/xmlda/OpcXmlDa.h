// The OPC XML-DA 1.0 message records: requests, replies and the records, arrays and
// enumerations they are made of. Field names are the XML names; field order is the wire order.
// Records own their nested records and arrays; a new record has every field empty, zero, false
// or null.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "contract/Variant.h"
#include "soap/VelqorSOAPRemotable.h"

namespace velqor::xmlda {

// The message namespace of OPC XML-DA 1.0; SOAPAction = this URI + operation name.
inline constexpr std::string_view kXmlDaNamespace =
    "http://opcfoundation.org/webservices/XMLDA/1.0/";

VELQOR_ENUM(serverState, running, failed, noConfig, suspended, test, commFault)
VELQOR_ENUM(interfaceVersion, XML_DA_Version_1_0)
VELQOR_ENUM(qualityBits, good, bad, badConfigurationError, badNotConnected, badDeviceFailure,
            badSensorFailure, badLastKnownValue, badCommFailure, badOutOfService,
            badWaitingForInitialData, uncertain, uncertainLastUsableValue,
            uncertainSensorNotAccurate, uncertainEUExceeded, uncertainSubNormal, goodLocalOverride)
VELQOR_ENUM(browseFilter, all, branch, item)

// Array types: growable arrays named after the OPC XML-DA schema.
template <class R>
using RecordArray = std::vector<std::unique_ptr<R>>;
using ArrayOfString = std::vector<std::string>;
using PropertyNames = std::vector<std::string>;

// ---- shared records --------------------------------------------------------------------------

struct RequestOptions : TRemotable {
    double RequestDeadline = 0;
    bool ReturnErrorText = false;
    bool ReturnDiagnosticInfo = false;
    bool ReturnItemTime = false;
    bool ReturnItemPath = false;
    bool ReturnItemName = false;
    std::string ClientRequestHandle;
    std::string LocaleID;
    VELQOR_RECORD(RequestOptions, TRemotable, VELQOR_DATETIME_ATTR(RequestDeadline),
                  VELQOR_ATTR(ReturnErrorText), VELQOR_ATTR(ReturnDiagnosticInfo),
                  VELQOR_ATTR(ReturnItemTime), VELQOR_ATTR(ReturnItemPath),
                  VELQOR_ATTR(ReturnItemName), VELQOR_ATTR(ClientRequestHandle),
                  VELQOR_ATTR(LocaleID))
};

struct ReplyBase : TRemotable {
    double RcvTime = 0;
    double ReplyTime = 0;
    std::string ClientRequestHandle;
    std::string RevisedLocaleID;
    serverState ServerState = serverState::running;
    VELQOR_RECORD(ReplyBase, TRemotable, VELQOR_DATETIME_ATTR(RcvTime),
                  VELQOR_DATETIME_ATTR(ReplyTime), VELQOR_ATTR(ClientRequestHandle),
                  VELQOR_ATTR(RevisedLocaleID), VELQOR_ATTR(ServerState))
};

struct OPCError : TRemotable {
    std::string Text;
    std::string ID;
    VELQOR_RECORD(OPCError, TRemotable, VELQOR_ELEM(Text), VELQOR_ATTR(ID))
};

struct OPCQuality : TRemotable {
    qualityBits QualityField = qualityBits::good;
    std::string LimitField;
    uint8_t VendorField = 0;
    VELQOR_RECORD(OPCQuality, TRemotable, VELQOR_ATTR(QualityField), VELQOR_ATTR(LimitField),
                  VELQOR_ATTR(VendorField))
};

struct ItemValue : TRemotable {
    std::string DiagnosticInfo;
    Variant Value;
    std::unique_ptr<OPCQuality> Quality;
    std::string ItemPath;
    std::string ItemName;
    std::string ClientItemHandle;
    double Timestamp = 0;
    std::string ResultID;
    std::string ValueTypeQualifier;
    std::string ReqType;
    int32_t MaxAge = 0;
    // Not on the wire: why the reader could not decode Value ("" when it could).
    std::string ValueError;
    void ValueUnreadable(const FieldInfo& field, const std::string& why) override {
        if (field.Name == "Value") ValueError = why;
    }
    VELQOR_RECORD(ItemValue, TRemotable, VELQOR_ELEM(DiagnosticInfo), VELQOR_ELEM(Value),
                  VELQOR_ELEM(Quality), VELQOR_ATTR(ItemPath), VELQOR_ATTR(ItemName),
                  VELQOR_ATTR(ClientItemHandle), VELQOR_DATETIME_ATTR(Timestamp),
                  VELQOR_ATTR(ResultID), VELQOR_ATTR(ValueTypeQualifier), VELQOR_ATTR(ReqType),
                  VELQOR_ATTR(MaxAge))
};
using Items = RecordArray<ItemValue>;
using OPCErrors = RecordArray<OPCError>;

struct ItemIdentifier : TRemotable {
    std::string ItemPath;
    std::string ItemName;
    VELQOR_RECORD(ItemIdentifier, TRemotable, VELQOR_ATTR(ItemPath), VELQOR_ATTR(ItemName))
};
using ItemIdentifiers = RecordArray<ItemIdentifier>;

struct ItemProperty : TRemotable {
    std::string Name;
    Variant Value;
    std::string Description;
    std::string ItemPath;
    std::string ItemName;
    std::string ResultID;
    // Not on the wire: why the reader could not decode Value ("" when it could).
    std::string ValueError;
    void ValueUnreadable(const FieldInfo& field, const std::string& why) override {
        if (field.Name == "Value") ValueError = why;
    }
    VELQOR_RECORD(ItemProperty, TRemotable, VELQOR_ATTR(Name), VELQOR_ELEM(Value),
                  VELQOR_ATTR(Description), VELQOR_ATTR(ItemPath), VELQOR_ATTR(ItemName),
                  VELQOR_ATTR(ResultID))
};
using Properties = RecordArray<ItemProperty>;

// ---- GetStatus -------------------------------------------------------------------------------

struct GetStatus : TRemotable {
    std::string LocaleID;
    std::string ClientRequestHandle;
    VELQOR_RECORD(GetStatus, TRemotable, VELQOR_ATTR(LocaleID), VELQOR_ATTR(ClientRequestHandle))
};

struct ServerStatus : TRemotable {
    std::string StatusInfo;
    std::string VendorInfo;
    ArrayOfString SupportedLocaleIDs;
    interfaceVersion SupportedInterfaceVersions = interfaceVersion::XML_DA_Version_1_0;
    double StartTime = 0;
    std::string ProductVersion;
    VELQOR_RECORD(ServerStatus, TRemotable, VELQOR_ELEM(StatusInfo), VELQOR_ELEM(VendorInfo),
                  VELQOR_ELEM(SupportedLocaleIDs), VELQOR_ELEM(SupportedInterfaceVersions),
                  VELQOR_DATETIME_ATTR(StartTime), VELQOR_ATTR(ProductVersion))
};

struct GetStatusResponse : TRemotable {
    std::unique_ptr<ReplyBase> GetStatusResult;
    std::unique_ptr<ServerStatus> Status;
    VELQOR_RECORD(GetStatusResponse, TRemotable, VELQOR_ELEM(GetStatusResult), VELQOR_ELEM(Status))
};

// ---- Read ------------------------------------------------------------------------------------

struct ReadRequestItemList : TRemotable {
    std::string ItemPath;
    std::string ReqType;
    int32_t MaxAge = 0;
    xmlda::Items Items;
    VELQOR_RECORD(ReadRequestItemList, TRemotable, VELQOR_ATTR(ItemPath), VELQOR_ATTR(ReqType),
                  VELQOR_ATTR(MaxAge), VELQOR_ELEM(Items))
};
using ReadRequestItemLists = RecordArray<ReadRequestItemList>;

struct Read : TRemotable {
    std::unique_ptr<RequestOptions> Options;
    ReadRequestItemLists ItemList;
    VELQOR_RECORD(Read, TRemotable, VELQOR_ELEM(Options), VELQOR_ELEM(ItemList))
};

struct ReplyItemList : TRemotable {
    std::string Reserved;
    xmlda::Items Items;
    VELQOR_RECORD(ReplyItemList, TRemotable, VELQOR_ATTR(Reserved), VELQOR_ELEM(Items))
};
using ReplyItemLists = RecordArray<ReplyItemList>;

struct ReadResponse : TRemotable {
    std::unique_ptr<ReplyBase> ReadResult;
    ReplyItemLists RItemList;
    OPCErrors Errors;
    VELQOR_RECORD(ReadResponse, TRemotable, VELQOR_ELEM(ReadResult), VELQOR_ELEM(RItemList),
                  VELQOR_ELEM(Errors))
};

// ---- Write -----------------------------------------------------------------------------------

struct WriteRequestItemList : TRemotable {
    std::string ItemPath;
    xmlda::Items Items;
    VELQOR_RECORD(WriteRequestItemList, TRemotable, VELQOR_ATTR(ItemPath), VELQOR_ELEM(Items))
};
using WriteRequestItemLists = RecordArray<WriteRequestItemList>;

struct Write : TRemotable {
    std::unique_ptr<RequestOptions> Options;
    WriteRequestItemLists ItemList;
    bool ReturnValuesOnReply = false;
    VELQOR_RECORD(Write, TRemotable, VELQOR_ELEM(Options), VELQOR_ELEM(ItemList),
                  VELQOR_ATTR(ReturnValuesOnReply))
};

struct WriteResponse : TRemotable {
    std::unique_ptr<ReplyBase> WriteResult;
    ReplyItemLists RItemList;
    OPCErrors Errors;
    VELQOR_RECORD(WriteResponse, TRemotable, VELQOR_ELEM(WriteResult), VELQOR_ELEM(RItemList),
                  VELQOR_ELEM(Errors))
};

// ---- Subscribe -------------------------------------------------------------------------------

struct SubscribeRequestItem : TRemotable {
    std::string ItemPath;
    std::string ReqType;
    std::string ItemName;
    std::string ClientItemHandle;
    float Deadband = 0;
    int32_t RequestedSamplingRate = 0;
    bool EnableBuffering = false;
    VELQOR_RECORD(SubscribeRequestItem, TRemotable, VELQOR_ATTR(ItemPath), VELQOR_ATTR(ReqType),
                  VELQOR_ATTR(ItemName), VELQOR_ATTR(ClientItemHandle), VELQOR_ATTR(Deadband),
                  VELQOR_ATTR(RequestedSamplingRate), VELQOR_ATTR(EnableBuffering))
};
using SubscribeRequestItems = RecordArray<SubscribeRequestItem>;

struct SubscribeRequestItemList : TRemotable {
    std::string ItemPath;
    std::string ReqType;
    float Deadband = 0;
    int32_t RequestedSamplingRate = 0;
    bool EnableBuffering = false;
    SubscribeRequestItems Items;
    VELQOR_RECORD(SubscribeRequestItemList, TRemotable, VELQOR_ATTR(ItemPath), VELQOR_ATTR(ReqType),
                  VELQOR_ATTR(Deadband), VELQOR_ATTR(RequestedSamplingRate),
                  VELQOR_ATTR(EnableBuffering), VELQOR_ELEM(Items))
};
using SubscribeRequestItemLists = RecordArray<SubscribeRequestItemList>;

struct Subscribe : TRemotable {
    std::unique_ptr<RequestOptions> Options;
    SubscribeRequestItemLists ItemList;
    bool ReturnValuesOnReply = false;
    int32_t SubscriptionPingRate = 0;
    VELQOR_RECORD(Subscribe, TRemotable, VELQOR_ELEM(Options), VELQOR_ELEM(ItemList),
                  VELQOR_ATTR(ReturnValuesOnReply), VELQOR_ATTR(SubscriptionPingRate))
};

struct SubscribeItemValue : TRemotable {
    std::unique_ptr<xmlda::ItemValue> ItemValue;
    int32_t RevisedSamplingRate = 0;
    VELQOR_RECORD(SubscribeItemValue, TRemotable, VELQOR_ELEM(ItemValue),
                  VELQOR_ATTR(RevisedSamplingRate))
};
using SubscribeItemValues = RecordArray<SubscribeItemValue>;

struct SubscribeReplyItemList : TRemotable {
    int32_t RevisedSamplingRate = 0;
    SubscribeItemValues Items;
    VELQOR_RECORD(SubscribeReplyItemList, TRemotable, VELQOR_ATTR(RevisedSamplingRate),
                  VELQOR_ELEM(Items))
};
using SubscribeReplyItemLists = RecordArray<SubscribeReplyItemList>;

struct SubscribeResponse : TRemotable {
    std::unique_ptr<ReplyBase> SubscribeResult;
    SubscribeReplyItemLists RItemList;
    OPCErrors Errors;
    std::string ServerSubHandle;
    VELQOR_RECORD(SubscribeResponse, TRemotable, VELQOR_ELEM(SubscribeResult),
                  VELQOR_ELEM(RItemList), VELQOR_ELEM(Errors), VELQOR_ATTR(ServerSubHandle))
};

// ---- SubscriptionPolledRefresh ---------------------------------------------------------------

struct SubscriptionPolledRefresh : TRemotable {
    std::unique_ptr<RequestOptions> Options;
    ArrayOfString ServerSubHandles;
    double HoldTime = 0;
    int32_t WaitTime = 0;
    bool ReturnAllItems = false;
    VELQOR_RECORD(SubscriptionPolledRefresh, TRemotable, VELQOR_ELEM(Options),
                  VELQOR_ELEM(ServerSubHandles), VELQOR_DATETIME_ATTR(HoldTime),
                  VELQOR_ATTR(WaitTime), VELQOR_ATTR(ReturnAllItems))
};

struct SubscribePolledRefreshReplyItemList : TRemotable {
    std::string SubscriptionHandle;
    xmlda::Items Items;
    VELQOR_RECORD(SubscribePolledRefreshReplyItemList, TRemotable, VELQOR_ATTR(SubscriptionHandle),
                  VELQOR_ELEM(Items))
};
using SubscribePolledRefreshReplyItemLists = RecordArray<SubscribePolledRefreshReplyItemList>;

struct SubscriptionPolledRefreshResponse : TRemotable {
    std::unique_ptr<ReplyBase> SubscriptionPolledRefreshResult;
    ArrayOfString InvalidServerSubHandles;
    SubscribePolledRefreshReplyItemLists RItemList;
    OPCErrors Errors;
    bool DataBufferOverflow = false;
    VELQOR_RECORD(SubscriptionPolledRefreshResponse, TRemotable,
                  VELQOR_ELEM(SubscriptionPolledRefreshResult),
                  VELQOR_ELEM(InvalidServerSubHandles), VELQOR_ELEM(RItemList), VELQOR_ELEM(Errors),
                  VELQOR_ATTR(DataBufferOverflow))
};

// ---- SubscriptionCancel ----------------------------------------------------------------------

struct SubscriptionCancel : TRemotable {
    std::string ServerSubHandle;
    std::string ClientRequestHandle;
    VELQOR_RECORD(SubscriptionCancel, TRemotable, VELQOR_ATTR(ServerSubHandle),
                  VELQOR_ATTR(ClientRequestHandle))
};

struct SubscriptionCancelResponse : TRemotable {
    std::string ClientRequestHandle;
    VELQOR_RECORD(SubscriptionCancelResponse, TRemotable, VELQOR_ATTR(ClientRequestHandle))
};

// ---- Browse ----------------------------------------------------------------------------------

struct Browse : TRemotable {
    std::string LocaleID;
    std::string ClientRequestHandle;
    std::string ItemPath;
    std::string ItemName;
    std::string ContinuationPoint;
    int32_t MaxElementsReturned = 0;
    browseFilter BrowseFilter = browseFilter::all;
    std::string ElementNameFilter;
    std::string VendorFilter;
    bool ReturnAllProperties = false;
    bool ReturnPropertyValues = false;
    bool ReturnErrorText = false;
    xmlda::PropertyNames PropertyNames;
    VELQOR_RECORD(Browse, TRemotable, VELQOR_ATTR(LocaleID), VELQOR_ATTR(ClientRequestHandle),
                  VELQOR_ATTR(ItemPath), VELQOR_ATTR(ItemName), VELQOR_ATTR(ContinuationPoint),
                  VELQOR_ATTR(MaxElementsReturned), VELQOR_ATTR(BrowseFilter),
                  VELQOR_ATTR(ElementNameFilter), VELQOR_ATTR(VendorFilter),
                  VELQOR_ATTR(ReturnAllProperties), VELQOR_ATTR(ReturnPropertyValues),
                  VELQOR_ATTR(ReturnErrorText), VELQOR_ELEM(PropertyNames))
};

struct BrowseElement : TRemotable {
    std::string Name;
    std::string ItemPath;
    std::string ItemName;
    bool IsItem = false;
    bool HasChildren = false;
    xmlda::Properties Properties;
    VELQOR_RECORD(BrowseElement, TRemotable, VELQOR_ATTR(Name), VELQOR_ATTR(ItemPath),
                  VELQOR_ATTR(ItemName), VELQOR_ATTR(IsItem), VELQOR_ATTR(HasChildren),
                  VELQOR_ELEM(Properties))
};
using BrowseElements = RecordArray<BrowseElement>;

struct BrowseResponse : TRemotable {
    std::unique_ptr<ReplyBase> BrowseResult;
    BrowseElements Elements;
    OPCErrors Errors;
    std::string ContinuationPoint;
    bool MoreElements = false;
    VELQOR_RECORD(BrowseResponse, TRemotable, VELQOR_ELEM(BrowseResult), VELQOR_ELEM(Elements),
                  VELQOR_ELEM(Errors), VELQOR_ATTR(ContinuationPoint), VELQOR_ATTR(MoreElements))
};

// ---- GetProperties ---------------------------------------------------------------------------

struct GetProperties : TRemotable {
    ItemIdentifiers ItemIDs;
    xmlda::PropertyNames PropertyNames;
    std::string LocaleID;
    std::string ClientRequestHandle;
    std::string ItemPath;
    bool ReturnAllProperties = false;
    bool ReturnPropertyValues = false;
    bool ReturnErrorText = false;
    VELQOR_RECORD(GetProperties, TRemotable, VELQOR_ELEM(ItemIDs), VELQOR_ELEM(PropertyNames),
                  VELQOR_ATTR(LocaleID), VELQOR_ATTR(ClientRequestHandle), VELQOR_ATTR(ItemPath),
                  VELQOR_ATTR(ReturnAllProperties), VELQOR_ATTR(ReturnPropertyValues),
                  VELQOR_ATTR(ReturnErrorText))
};

struct PropertyReplyList : TRemotable {
    std::string ItemPath;
    std::string ItemName;
    std::string ResultID;
    xmlda::Properties Properties;
    VELQOR_RECORD(PropertyReplyList, TRemotable, VELQOR_ATTR(ItemPath), VELQOR_ATTR(ItemName),
                  VELQOR_ATTR(ResultID), VELQOR_ELEM(Properties))
};
using PropertyReplyLists = RecordArray<PropertyReplyList>;

struct GetPropertiesResponse : TRemotable {
    std::unique_ptr<ReplyBase> GetPropertiesResult;
    PropertyReplyLists PropertyLists;
    OPCErrors Errors;
    VELQOR_RECORD(GetPropertiesResponse, TRemotable, VELQOR_ELEM(GetPropertiesResult),
                  VELQOR_ELEM(PropertyLists), VELQOR_ELEM(Errors))
};

// ---- operations ------------------------------------------------------------------------------

// The reply record of each request record: XmlDaReply<GetStatus> is GetStatusResponse.
template <class Request>
struct XmlDaOperation;
#define VELQOR_XMLDA_OPERATION(Req_)                    \
    template <>                                         \
    struct XmlDaOperation<Req_> {                       \
        using Request = Req_;                           \
        using Reply = Req_##Response;                   \
        static constexpr std::string_view Name = #Req_; \
    };
VELQOR_XMLDA_OPERATION(GetStatus)
VELQOR_XMLDA_OPERATION(Read)
VELQOR_XMLDA_OPERATION(Write)
VELQOR_XMLDA_OPERATION(Subscribe)
VELQOR_XMLDA_OPERATION(SubscriptionPolledRefresh)
VELQOR_XMLDA_OPERATION(SubscriptionCancel)
VELQOR_XMLDA_OPERATION(Browse)
VELQOR_XMLDA_OPERATION(GetProperties)
#undef VELQOR_XMLDA_OPERATION

template <class Request>
using XmlDaReply = typename XmlDaOperation<Request>::Reply;

// One row of the operation table, for code that goes by name.
struct XmlDaOperationInfo {
    std::string_view Name;
    const RecordClass& (*Request)();
    const RecordClass& (*Reply)();
};
extern const XmlDaOperationInfo kXmlDaOperations[8];

// The SOAPAction of an operation: the XML-DA namespace immediately followed by its name.
std::string XmlDaSOAPAction(std::string_view operation);

// A new record of a class that replies contain; raises "class: <name> not registerted in
// method CreateObject" for any other name. A RequestOptions made here has ReturnErrorText set.
std::unique_ptr<TRemotable> CreateXmlDaObject(std::string_view className);

}  // namespace velqor::xmlda
