// The eight OPC XML-DA 1.0 operations of the simulation service, and what they share.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "xmlda/AddressSpace.h"
#include "xmlda/SoapIo.h"
#include "xmlda/Subscriptions.h"
#include "xmlda/XmlDaSim.h"

namespace velqor::xmldasim {

// What the operations see of the running service.
struct ServiceState {
    AddressSpace& space;
    SubscriptionStore& subs;
    TimePoint startTime;
    std::string serverState = "running";
    std::string productVersion;
    std::string tag;  // changes with every start; part of handles and continuation points
    const Switches* switches = nullptr;  // the behaviour switches of this request
    int expireIdleMs = 0;                // Switches::expireIdleMs
    int maxHoldMs = 0;                   // Switches::maxHoldMs
};

// One call: the parsed request, the reply being built, and when the request arrived.
struct Call {
    ServiceState& st;
    const Request& req;
    ReplyWriter& w;
    TimePoint rcvTime;
};

// Runs the operation named by the request; throws SoapFault for whole-request failures.
void dispatch(Call& c);

// --- shared by the operation files ---

TimePoint nowMs();

struct ReqOptions {
    bool returnErrorText = true;
    bool returnDiagnosticInfo = false;
    bool returnItemTime = false;
    bool returnItemPath = false;
    bool returnItemName = false;
    std::string clientRequestHandle;
    std::string localeId;
    std::optional<TimePoint> deadline;
};
// Reads the `Options` child of the operation element; faults when RequestDeadline has passed.
ReqOptions readOptions(const xmlNode* op);

// The ReplyBase record at the head of every reply.
void replyBase(Call& c, ReplyNode parent, const char* name, const std::string& clientRequestHandle,
               const std::string& localeId);

// Collects the result IDs used in a reply, for its `Errors` elements.
class ErrorList {
  public:
    void use(const std::string& resultId) {
        if (!resultId.empty()) ids_[resultId];
    }
    void write(ReplyWriter& w, ReplyNode parent, bool withText) const;

  private:
    std::map<std::string, int> ids_;
};
std::string resultText(const std::string& resultId);

// Resolves an item ID given as path and name. Returns the node or sets resultId.
int resolveItem(const AddressSpace& space, const std::string& itemPath, const std::string& itemName,
                std::string* resultId);

// One ItemValue record.
struct ItemReply {
    std::string clientHandle, itemPath, itemName, resultId, diagnostic;
    const Value* value = nullptr;
    const Quality* quality = nullptr;
    std::optional<TimePoint> timestamp;
};
ReplyNode writeItemValue(ReplyWriter& w, ReplyNode parent, const char* name, const ItemReply& r,
                         const ReqOptions& o);
void writeQuality(ReplyWriter& w, ReplyNode parent, const char* name, const Quality& q);
// One "Items" reply record: value, quality and timestamp when ir succeeded, else its result
// text; the result is counted in the reply's error list.
void writeItemResult(ReplyWriter& w, ReplyNode parent, ItemReply& ir, const Value& value,
                     const Sample& sample, ErrorList& errors, const ReqOptions& o);

// The ReqType of a request as a type; nullopt when absent; faults nothing (E_BADTYPE by caller).
std::optional<DataType> reqTypeOf(const std::string& text, bool* unknown);

void opGetStatus(Call& c);
void opRead(Call& c);
void opWrite(Call& c);
void opBrowse(Call& c);
void opGetProperties(Call& c);
void opSubscribe(Call& c);
void opPolledRefresh(Call& c);
void opSubscriptionCancel(Call& c);

}  // namespace velqor::xmldasim
