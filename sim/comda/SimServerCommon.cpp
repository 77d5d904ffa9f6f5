// The parts every generation shares: the server object's status and error texts, the common
// interface, the shutdown connection point, and the state of one server object.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <set>

#include "SimServerParts.h"
#include "com/ComValues.h"
#include "com/runtime/ComText.h"

namespace velqor::sim {
namespace {

// The server's own texts for the codes its interfaces return; other codes are left to the
// client's system texts.
const char* OpcErrorText(HRESULT error) {
    struct Text {
        HRESULT code;
        const char* text;
    };
    static const Text texts[] = {
        {OPC_E_INVALIDHANDLE, "The value of the handle is invalid."},
        {OPC_E_BADTYPE,
         "The server cannot convert the data between the requested data type "
         "and the canonical data type."},
        {OPC_E_PUBLIC, "The requested operation cannot be done on a public group."},
        {OPC_E_BADRIGHTS, "The item's access rights do not allow the operation."},
        {OPC_E_UNKNOWNITEMID, "The item is no longer available in the server address space."},
        {OPC_E_INVALIDITEMID, "The item definition does not conform to the server's syntax."},
        {OPC_E_INVALIDFILTER, "The filter string is not valid."},
        {OPC_E_UNKNOWNPATH, "The item's access path is not known to the server."},
        {OPC_E_RANGE, "The value was out of range."},
        {OPC_E_DUPLICATENAME, "Duplicate name not allowed."},
        {OPC_S_UNSUPPORTEDRATE, "The server does not support the requested data rate."},
        {OPC_S_CLAMP, "A value passed to write was accepted but the output was clamped."},
        {OPC_S_INUSE, "The operation cannot be performed because the object is referenced."},
        {OPC_E_INVALIDCONFIGFILE, "The server's configuration file is an invalid format."},
        {OPC_E_NOTFOUND, "The requested object was not found."},
        {OPC_E_INVALID_PID, "The specified property ID is not valid for the item."},
        {OPC_E_INVALIDCONTINUATIONPOINT, "The continuation point is not valid."},
        {OPC_E_NOTSUPPORTED, "The server does not support writing of quality and/or timestamp."},
        {E_NOTIMPL, "The simulated server does not implement this operation."},
        {E_ACCESSDENIED, "The simulated server refuses to browse this position."},
        {kSimItemFault, "The simulated server failed this item on purpose."},
    };
    for (const auto& t : texts)
        if (t.code == error) return t.text;
    return nullptr;
}

bool IsSupportedLocale(LCID lcid) {
    return lcid == 0x0409 || lcid == 0x0400 || lcid == 0x0800 || lcid == 0;
}

HRESULT ErrorText(HRESULT error, LCID locale, LPWSTR* text) {
    if (!text) return E_INVALIDARG;
    *text = nullptr;
    if (!IsSupportedLocale(locale)) return E_INVALIDARG;
    const char* t = OpcErrorText(error);
    if (!t) return E_INVALIDARG;
    *text = TaskString(t);
    return *text ? S_OK : E_OUTOFMEMORY;
}

// The live shutdown points, so a fault switch can reach them from any thread. A point leaves
// before its members are destroyed, and requests are made under the same lock.
struct LiveServers {
    std::mutex mu;
    std::set<ShutdownPart*> servers;
};
LiveServers& Live() {
    static LiveServers live;
    return live;
}

}  // namespace

std::shared_ptr<const SimFaults> SimServerState::Enter() const { return EnterSimCall(); }

HRESULT SimServerState::FindItem(LPCWSTR itemId, int& node) const {
    node = -1;
    if (!itemId || !*itemId) return OPC_E_INVALIDITEMID;
    int n = Space->Find(com::Utf16ToUtf8(itemId));
    if (n < 0 || !Space->IsItem(n)) return OPC_E_UNKNOWNITEMID;
    node = n;
    return S_OK;
}

HRESULT SimServerState::FindItem(LPCWSTR itemId, const SimFaults& faults,
                                 const std::set<std::string>& failing, int& node) const {
    HRESULT hr = FindItem(itemId, node);
    if (SUCCEEDED(hr) && (faults.SFalseWithErrors || failing.count(velqor::OleStrToText(itemId))))
        hr = kSimItemFault;
    return hr;
}

void* TaskArrayBytes(std::size_t count, std::size_t size) {
    std::size_t bytes = std::max<std::size_t>(count, 1) * size;
    void* p = CoTaskMemAlloc(bytes);
    if (p) std::memset(p, 0, bytes);
    return p;
}

bool MatchesBrowseFilter(std::string_view name, std::string_view filter) {
    if (filter.empty()) return true;
    std::size_t n = 0, f = 0, star = std::string_view::npos, mark = 0;
    while (n < name.size()) {
        if (f < filter.size() && (filter[f] == '?' || filter[f] == name[n])) {
            ++n, ++f;
        } else if (f < filter.size() && filter[f] == '*') {
            star = f++;
            mark = n;
        } else if (star != std::string_view::npos) {
            f = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (f < filter.size() && filter[f] == '*') ++f;
    return f == filter.size();
}

// IOPCServer

HRESULT OpcServerPart::GetErrorString(HRESULT error, LCID locale, LPWSTR* text) {
    if (!State().Enter()) return RPC_E_CALL_CANCELED;
    return ErrorText(error, locale, text);
}

HRESULT OpcServerPart::GetStatus(OPCSERVERSTATUS** status) {
    if (!State().Enter()) return RPC_E_CALL_CANCELED;
    if (!status) return E_INVALIDARG;
    *status = nullptr;
    auto* s = TaskArray<OPCSERVERSTATUS>(1);
    if (!s) return E_OUTOFMEMORY;
    const SimServerIdentity& id = State().Identity;
    s->ftStartTime = id.StartTime;
    GetSystemTimeAsFileTime(&s->ftCurrentTime);
    s->dwServerState = OPC_STATUS_RUNNING;
    s->dwBandWidth = 0xFFFFFFFFu;  // not known
    {
        std::lock_guard lock(State().Groups->mu);
        s->dwGroupCount = static_cast<DWORD>(State().Groups->groups.size());
    }
    const std::uint64_t last = State().Groups->lastUpdate.load();
    s->ftLastUpdateTime.dwLowDateTime = static_cast<DWORD>(last);
    s->ftLastUpdateTime.dwHighDateTime = static_cast<DWORD>(last >> 32);
    s->wMajorVersion = id.MajorVersion;
    s->wMinorVersion = id.MinorVersion;
    s->wBuildNumber = id.BuildNumber;
    s->szVendorInfo = TaskString(id.VendorInfo);
    if (!s->szVendorInfo) {
        CoTaskMemFree(s);
        return E_OUTOFMEMORY;
    }
    *status = s;
    return S_OK;
}

// IOPCCommon

HRESULT OpcCommonPart::SetLocaleID(LCID lcid) {
    if (!State().Enter()) return RPC_E_CALL_CANCELED;
    if (!IsSupportedLocale(lcid)) return E_INVALIDARG;
    State().Locale = lcid;
    return S_OK;
}

HRESULT OpcCommonPart::GetLocaleID(LCID* lcid) {
    if (!State().Enter()) return RPC_E_CALL_CANCELED;
    if (!lcid) return E_INVALIDARG;
    *lcid = State().Locale;
    return S_OK;
}

HRESULT OpcCommonPart::QueryAvailableLocaleIDs(DWORD* count, LCID** lcids) {
    if (!State().Enter()) return RPC_E_CALL_CANCELED;
    if (!count || !lcids) return E_INVALIDARG;
    *count = 0;
    *lcids = TaskArray<LCID>(1);
    if (!*lcids) return E_OUTOFMEMORY;
    (*lcids)[0] = 0x0409;
    *count = 1;
    return S_OK;
}

HRESULT OpcCommonPart::GetErrorString(HRESULT error, LPWSTR* text) {
    if (!State().Enter()) return RPC_E_CALL_CANCELED;
    return ErrorText(error, State().Locale, text);
}

HRESULT OpcCommonPart::SetClientName(LPCWSTR name) {
    if (!State().Enter()) return RPC_E_CALL_CANCELED;
    State().ClientName = velqor::OleStrToText(name);
    return S_OK;
}

// The shutdown connection point

ShutdownPart::ShutdownPart()
    : shutdownPoint_(*this, IID_IOPCShutdown), callbacks_(EventLoop::Default()) {
    points_.Add(shutdownPoint_);
    {
        std::lock_guard lock(Live().mu);
        Live().servers.insert(this);
    }
    static std::atomic<bool> shutdownDone{false};
    const int after = CurrentSimFaults()->ShutdownAfterMs;
    if (after > 0 && !shutdownDone.exchange(true))
        callbacks_.Post([this, after] {
            shutdownTimer_ = callbacks_.StartTimer(after, [this] {
                callbacks_.StopTimer(shutdownTimer_);
                RequestShutdown("the server is restarting");
                RestartFlag() = true;
            });
        });
}

std::atomic<bool>& ShutdownPart::RestartFlag() {
    static std::atomic<bool> announced{false};
    return announced;
}

bool ShutdownPart::RestartAnnounced() { return RestartFlag().load(); }

ShutdownPart::~ShutdownPart() {
    {
        std::lock_guard lock(Live().mu);
        Live().servers.erase(this);
    }
    shutdownPoint_.Clear();
}

int ShutdownPart::RequestShutdownOfAll(const std::string& reason) {
    std::lock_guard lock(Live().mu);
    for (ShutdownPart* s : Live().servers) s->RequestShutdown(reason);
    return static_cast<int>(Live().servers.size());
}

void ShutdownPart::RequestShutdown(const std::string& reason) {
    callbacks_.Post([this, reason] {
        std::u16string text = com::Utf8ToUtf16(reason);
        for (const auto& sink : shutdownPoint_.Sinks<IOPCShutdown>())
            sink->ShutdownRequest(com::AsOle(text.c_str()));
    });
}

HRESULT ShutdownPart::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (!State().Enter()) return RPC_E_CALL_CANCELED;
    return points_.Enum(points);
}

HRESULT ShutdownPart::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
    if (!State().Enter()) return RPC_E_CALL_CANCELED;
    return points_.Find(riid, point);
}

}  // namespace velqor::sim
