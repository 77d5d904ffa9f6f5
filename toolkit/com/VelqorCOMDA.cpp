#include "com/VelqorCOMDA.h"

#include <cstdio>

#include "com/VelqorCOMDABrowser.h"
#include "com/VelqorComCalls.h"
#include "contract/VelqorError.h"

namespace velqor {

void TVelqorCOMDAConnection::AfterConnect() {
    GetItemPropertiesIntf();
    GetBrowseIntf();
}

void TVelqorCOMDAConnection::ReleaseServer() {
    itemPropertiesHolder_.reset();
    browseHolder_.reset();
    itemPropertiesIntf_.Reset();
    browseIntf_.Reset();
    TVelqorCOMConnection::ReleaseServer();
}

bool TVelqorCOMDAConnection::CheckConnection() {
    // A hung server is noticed within the probe's own limit, whatever the calls' limit is.
    TComCallLimit limit(kProbeLimitMs);
    try {
        OPCSERVERSTATUS status{};
        std::string vendor;
        RawStatus(status, vendor);
        return true;
    } catch (...) {
        return false;
    }
}

com::ComPtr<IOPCServer> TVelqorCOMDAConnection::GetOPCServer() {
    auto server = GetServer();
    if (!server) return {};
    auto opc = com::QueryAs<IOPCServer>(server);
    if (!opc) throw EOleSysError(E_NOINTERFACE);
    return opc;
}

namespace {

// Fetches a server interface into its cache (and holder) on first use; refreshes it from the
// holder afterwards.
template <class I>
com::ComPtr<I> CachedInterface(TVelqorCOMDAConnection& c, com::ComPtr<I>& cache,
                               std::unique_ptr<TGIP>& holder) {
    c.RequireServer();
    if (!cache) {
        cache = com::QueryAs<I>(c.GetOPCServer());
        if (cache && c.UseGIT())
            holder = std::make_unique<TGIP>(cache.Get(), com::InterfaceTraits<I>::Id());
    } else if (c.UseGIT() && holder) {
        cache = holder->template Get<I>();
    }
    return cache;
}

}  // namespace

com::ComPtr<IOPCItemProperties> TVelqorCOMDAConnection::GetItemPropertiesIntf() {
    return CachedInterface(*this, itemPropertiesIntf_, itemPropertiesHolder_);
}

com::ComPtr<IOPCBrowse> TVelqorCOMDAConnection::GetBrowseIntf() {
    return CachedInterface(*this, browseIntf_, browseHolder_);
}

bool TVelqorCOMDAConnection::SupportsBrowseServerAddressSpace() {
    return bool(com::QueryAs<IOPCBrowseServerAddressSpace>(GetOPCServer()));
}

void TVelqorCOMDAConnection::RawStatus(OPCSERVERSTATUS& status, std::string& vendorInfo) {
    RequireServer();
    OPCSERVERSTATUS* answer = nullptr;
    const HRESULT hr = GetOPCServer()->GetStatus(&answer);
    if (FAILED(hr) && answer) {  // nothing may come with a failure; free what did
        CoTaskMemFree(answer->szVendorInfo);
        CoTaskMemFree(answer);
        answer = nullptr;
    }
    CheckOPCResult(hr);
    if (!answer) throw EOPCServerException(MsgText(Msg::NotConnected));
    status = *answer;
    vendorInfo = OleStrToText(answer->szVendorInfo);
    CoTaskMemFree(answer->szVendorInfo);
    CoTaskMemFree(answer);
    status.szVendorInfo = nullptr;
}

void TVelqorCOMDAConnection::GetStatus(tServerStateRecord& status) {
    status = tServerStateRecord{};
    OPCSERVERSTATUS raw{};
    std::string vendor;
    RawStatus(raw, vendor);
    status.StartTime = FileTimeToLocalDateTime(raw.ftStartTime);
    status.CurrentTime = FileTimeToLocalDateTime(raw.ftCurrentTime);
    status.LastUpdateTime = FileTimeToLocalDateTime(raw.ftLastUpdateTime);
    status.ServerState = int32_t(raw.dwServerState);
    status.GroupCount = int32_t(raw.dwGroupCount);
    status.BandWidth = int32_t(raw.dwBandWidth);
    status.MajorVersion = raw.wMajorVersion;
    status.MinorVersion = raw.wMinorVersion;
    status.BuildNumber = raw.wBuildNumber;
    status.VendorInfo = vendor;
    status.StateText = ServerStateText(status.ServerState);
    char version[32];
    std::snprintf(version, sizeof version, "%d.%d.%d", status.MajorVersion, status.MinorVersion,
                  status.BuildNumber);
    status.VersionText = version;
}

void TVelqorCOMDAConnection::GetServerErrorString(int32_t code, std::string& text) {
    RequireServer();
    text.clear();
    LPWSTR answer = nullptr;
    const HRESULT hr = GetOPCServer()->GetErrorString(HRESULT(code), 0, &answer);
    if (SUCCEEDED(hr)) text = OleStrToText(answer);
    CoTaskMemFree(answer);
}

void TVelqorCOMDAConnection::GetErrorString(int32_t code, std::string& text) {
    text = ResultMessage(code);
}

void TVelqorCOMDAConnection::GetItemPropertyValue(const std::string& itemID, int32_t propertyID,
                                                  std::string& text) {
    text.clear();
    auto props = GetItemPropertiesIntf();
    if (!props) return;
    BSTR id = ToWideString(itemID);
    DWORD pid = DWORD(propertyID);
    LPWSTR* ids = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT hr = props->LookupItemIDs(id, 1, &pid, &ids, &errors);
    SysFreeString(id);
    const bool complete = ids && errors;
    const HRESULT error = errors ? errors[0] : S_OK;
    const std::string found = ids ? OleStrToText(ids[0]) : std::string{};
    if (ids) CoTaskMemFree(ids[0]);
    CoTaskMemFree(ids);
    CoTaskMemFree(errors);
    if (FAILED(hr)) return;
    if (!complete) RaiseWrongResult("LookupItemIDs");
    if (error != S_OK) {
        CheckOPCResult(error);
        return;
    }
    text = found;
}

void TVelqorCOMDAConnection::CreateBrowser(com::ComPtr<IVelqorBrowser>& browser) {
    browser.Reset();
    com::ComPtr<IVelqorDAConnection> self(static_cast<IVelqorDAConnection*>(this));
    // A server that offers both browse interfaces is browsed through the DA 2.0 one.
    if (SupportsBrowseServerAddressSpace())
        browser = com::MakeComObject<IVelqorBrowser, TVelqorCOMDABrowser>(self);
    else if (SpecVersion() != 3)
        throw EOPCBrowserException(MsgText(Msg::BrowserNotFound));
    else
        browser = com::MakeComObject<IVelqorBrowser, TVelqorCOMDA3Browser>(self);
}

}  // namespace velqor
