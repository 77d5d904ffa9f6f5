#include "xmlda/VelqorXMLDA.h"

#include <atomic>
#include <cstdint>

#include "contract/VelqorDateTime.h"
#include "contract/VelqorError.h"
#include "xmlda/VelqorXMLDABrowser.h"

namespace velqor {

namespace {
std::atomic<bool> g_designMode{false};
}  // namespace

void SetXMLDADesignMode(bool on) { g_designMode.store(on); }
bool XMLDADesignMode() { return g_designMode.load(); }

TVelqorXMLDAConnection::TVelqorXMLDAConnection(bool designing) { SetXMLDADesignMode(designing); }

void TVelqorXMLDAConnection::Connect(const std::string& clientName, const std::string& serverName,
                                     const std::string& computerName, const ParamLines& params,
                                     velqor::NotifyWindow window, int32_t connectDelay) {
    TVelqorXMLConnection::Connect(clientName, serverName, computerName, params, std::move(window),
                                  connectDelay);
    ClearClock();
}

void TVelqorXMLDAConnection::StatusCheck() {
    velqor::NotifyWindow window = NotifyWindow();
    SetNotifyWindow(nullptr);  // a failing connect reports no shutdown
    tServerStateRecord scratch;
    try {
        GetStatus(scratch);
    } catch (const EAbort&) {
        throw;  // the user cancelled: stays silent
    } catch (const std::exception& e) {
        throw EOPCServerException(MsgFormat(Msg::UnableToConnect, URL()) + "\r\n" + e.what());
    }
    SetNotifyWindow(std::move(window));
}

bool TVelqorXMLDAConnection::CheckConnection() {
    if (XMLDADesignMode()) return true;
    try {
        tServerStateRecord scratch;
        GetStatus(scratch);
        return true;
    } catch (...) {
        return false;
    }
}

void TVelqorXMLDAConnection::GetServerErrorString(int32_t code, std::string& text) {
    text = XmlDaErrorString(code);
}

void TVelqorXMLDAConnection::GetErrorString(int32_t code, std::string& text) {
    text = XmlDaErrorString(code);
}

void TVelqorXMLDAConnection::GetStatus(tServerStateRecord& status) {
    xmlda::GetStatus request;
    request.LocaleID = std::string(kXmlDaLocale);
    request.ClientRequestHandle = ClientName();
    TXmlDaReplyShape shape;
    auto reply = Call(request, &shape);
    // The reader makes empty records for absent elements; an absent part is a wrong reply.
    if (!reply || !reply->GetStatusResult || !reply->Status || !shape.Has("GetStatusResult") ||
        !shape.Has("Status"))
        throw EOPCServerException(MsgText(Msg::WrongResultGetStatus));
    const xmlda::ReplyBase& result = *reply->GetStatusResult;
    const xmlda::ServerStatus& st = *reply->Status;
    UpdateClock(&result);
    status.StartTime = st.StartTime;
    status.CurrentTime = result.ReplyTime;
    status.LastUpdateTime = result.ReplyTime;
    status.ServerState = ServerStateFromXml(result.ServerState);
    status.GroupCount = status.BandWidth = 0;
    status.MajorVersion = status.MinorVersion = status.BuildNumber = 0;
    status.VendorInfo = st.VendorInfo;
    status.StateText = st.StatusInfo;
    status.VersionText = st.ProductVersion;
}

bool TVelqorXMLDAConnection::GetItemProperties(std::vector<TVelqorItemPropertyQuery>& items,
                                               const std::vector<std::string>& propertyFilter,
                                               bool withValues, bool /*raiseOnError*/) {
    if (items.empty()) return false;
    xmlda::GetProperties request;
    for (const auto& item : items) request.ItemIDs.push_back(ItemIdentifierOf(item.ItemID));
    request.LocaleID = std::string(kXmlDaLocale);
    request.ReturnAllProperties = propertyFilter.empty();
    request.ReturnPropertyValues = withValues;
    request.ClientRequestHandle = ClientName();
    request.ReturnErrorText = false;
    for (const auto& id : propertyFilter) {
        int64_t n = 0;
        request.PropertyNames.push_back(ParseInt64(id, n) && n >= INT32_MIN && n <= INT32_MAX
                                            ? PropertyNameFromId(int32_t(n))
                                            : id);
    }

    auto reply = Call(request);
    if (!reply || reply->PropertyLists.empty()) return false;
    // Lists pair with items by position; a reply with surplus lists cannot be paired.
    if (reply->PropertyLists.size() > items.size())
        throw EOPCServerException("wrong result from OPC Server (GetProperties): " +
                                  std::to_string(reply->PropertyLists.size()) +
                                  " property lists for " + std::to_string(items.size()) + " items");
    UpdateClock(reply->GetPropertiesResult.get());

    for (size_t j = 0; j < reply->PropertyLists.size(); ++j) {
        const xmlda::PropertyReplyList* list = reply->PropertyLists[j].get();
        if (!list) continue;
        auto& out = items[j].Properties;
        if (!list->ResultID.empty()) {
            TVelqorItemProperty p;
            p.PropertyID = 0;
            p.Error = ResultCodeFromID(list->ResultID);
            for (const auto& e : reply->Errors)
                if (e && e->ID == list->ResultID) {
                    p.Description = e->Text;
                    break;
                }
            out.push_back(std::move(p));
            continue;
        }
        for (const auto& prop : list->Properties)
            if (prop) out.push_back(PropertyFromReply(*prop));
    }
    return true;
}

void TVelqorXMLDAConnection::GetItemPropertyValue(const std::string& /*itemID*/,
                                                  int32_t /*propertyID*/, std::string& /*text*/) {}

void TVelqorXMLDAConnection::CreateBrowser(com::ComPtr<IVelqorBrowser>& browser) {
    browser = com::MakeComObject<IVelqorBrowser, TVelqorXMLDABrowser>(
        com::ComPtr<IVelqorDAConnection>(this));
}

void TVelqorXMLDAConnection::UpdateClock(const xmlda::ReplyBase* replyHeader) {
    if (!replyHeader) return;
    std::lock_guard lock(clockMu_);
    if (localTimeAtFirstReply_ != 0) return;
    serverTimeAtFirstReply_ = replyHeader->ReplyTime;
    localTimeAtFirstReply_ = Now();
}

double TVelqorXMLDAConnection::ServerNow() const {
    const double now = Now();
    std::lock_guard lock(clockMu_);
    return now - localTimeAtFirstReply_ + serverTimeAtFirstReply_;
}

void TVelqorXMLDAConnection::ClearClock() {
    std::lock_guard lock(clockMu_);
    serverTimeAtFirstReply_ = localTimeAtFirstReply_ = 0;
}

double TVelqorXMLDAConnection::ServerTimeAtFirstReply() const {
    std::lock_guard lock(clockMu_);
    return serverTimeAtFirstReply_;
}

double TVelqorXMLDAConnection::LocalTimeAtFirstReply() const {
    std::lock_guard lock(clockMu_);
    return localTimeAtFirstReply_;
}

}  // namespace velqor
