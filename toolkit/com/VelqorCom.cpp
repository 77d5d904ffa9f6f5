#include "com/VelqorCom.h"

#include "com/VelqorComCalls.h"
#include "contract/VelqorError.h"

namespace velqor {

bool UseGlobalInterfaceTable = false;

namespace {

// A call the thread's bounds ended: the user's cancel is the silent abort, a time limit an
// error that says so. Any other code returns.
void RaiseIfBoundsEnded(HRESULT code) {
    if (code != RPC_E_CALL_CANCELED) return;
    switch (TakeLastCallEnd()) {
        case TComCallEnd::Cancelled:
            throw EAbort();
        case TComCallEnd::TimedOut:
            throw EOPCServerException(MsgFormat(Msg::CallTimedOut, int32_t(LastCallLimit())));
        case TComCallEnd::None:
            break;
    }
}

// The process-wide global interface table, created on first use.
com::ComPtr<IGlobalInterfaceTable> GlobalTable() {
    static com::ComPtr<IGlobalInterfaceTable> table = [] {
        com::ComPtr<IGlobalInterfaceTable> t;
        ComCheck(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_ALL,
                                  IID_IGlobalInterfaceTable, reinterpret_cast<void**>(t.Put())));
        return t;
    }();
    return table;
}

// Without leading and trailing blanks and control characters.
std::string Trimmed(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return s.substr(b, e - b);
}

std::string OwnComputerName() {
    char buffer[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH;
    return GetComputerNameA(buffer, &size) ? std::string(buffer, size) : std::string{};
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace

void ComCheck(HRESULT code) {
    RaiseIfBoundsEnded(code);
    if (FAILED(code)) throw EOleSysError(code);
}

HRESULT LastOPCResult() { return LastCheckedResult(); }

void CheckOPCResult(HRESULT code) {
    RaiseIfBoundsEnded(code);
    OleCheck(code);
}

BSTR ToWideString(const std::string& text) { return AllocBstr(text); }

std::string CLSIDToText(const CLSID& clsid) {
    LPOLESTR text = nullptr;
    if (FAILED(StringFromCLSID(clsid, &text)) || !text) return {};
    std::string r = OleStrToText(text);
    CoTaskMemFree(text);
    return r;
}

bool TextToCLSID(const std::string& text, CLSID& clsid) {
    BSTR wide = ToWideString(text);
    bool ok = SUCCEEDED(CLSIDFromProgID(wide, &clsid)) || SUCCEEDED(CLSIDFromString(wide, &clsid));
    SysFreeString(wide);
    return ok;
}

HRESULT AdviseConnectionPoint(::IUnknown* object, REFIID iid, ::IUnknown* sink, DWORD& cookie) {
    if (!object) return E_FAIL;
    auto container = com::QueryAs<IConnectionPointContainer>(object);
    if (!container) throw EOleSysError(E_NOINTERFACE);
    com::ComPtr<IConnectionPoint> point;
    if (FAILED(container->FindConnectionPoint(iid, point.Put())) || !point) return E_FAIL;
    return point->Advise(sink, &cookie);
}

HRESULT UnadviseConnectionPoint(::IUnknown* object, REFIID iid, DWORD cookie) {
    if (!object) return E_FAIL;
    auto container = com::QueryAs<IConnectionPointContainer>(object);
    if (!container) return E_FAIL;
    com::ComPtr<IConnectionPoint> point;
    if (FAILED(container->FindConnectionPoint(iid, point.Put())) || !point) return E_FAIL;
    return SUCCEEDED(point->Unadvise(cookie)) ? S_OK : E_FAIL;
}

com::ComPtr<::IUnknown> CreateServerObject(const CLSID& clsid, const std::string& computerName) {
    const std::string computer = Trimmed(computerName);
    com::ComPtr<::IUnknown> object;
    if (computer.empty()) {
        ComCheck(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                  IID_IUnknown, reinterpret_cast<void**>(object.Put())));
        return object;
    }
    BSTR wide = ToWideString(computer);
    COSERVERINFO info{};
    info.pwszName = wide;
    MULTI_QI qi{&IID_IUnknown, nullptr, S_OK};
    const DWORD context =
        SameNameIgnoringCase(computer, OwnComputerName())
            ? DWORD(CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
            : DWORD(CLSCTX_REMOTE_SERVER);
    const HRESULT hr = CoCreateInstanceEx(clsid, nullptr, context, &info, 1, &qi);
    SysFreeString(wide);
    object = com::ComPtr<::IUnknown>::Attach(qi.pItf);
    ComCheck(hr);
    ComCheck(qi.hr);
    return object;
}

// TGIP

TGIP::~TGIP() {
    try {
        Revoke();
    } catch (...) {
        // a registration that cannot be revoked is gone with the table
    }
}

void TGIP::Create(::IUnknown* pointer, REFIID iid) {
    Revoke();
    ComCheck(GlobalTable()->RegisterInterfaceInGlobal(pointer, iid, &cookie_));
    iid_ = iid;
}

void TGIP::Get(void** pointer) const {
    ComCheck(GlobalTable()->GetInterfaceFromGlobal(cookie_, iid_, pointer));
}

void TGIP::Revoke() {
    if (cookie_ == 0) return;
    const DWORD cookie = cookie_;
    cookie_ = 0;
    iid_ = IID{};
    ComCheck(GlobalTable()->RevokeInterfaceFromGlobal(cookie));
}

// TVelqorShutdownEvent

void TVelqorShutdownEvent::Advise() {
    adviseResult_ = E_FAIL;
    if (!connection_ || !connection_->HasConnectionPoints()) return;
    auto server = connection_->GetServer();
    adviseResult_ =
        AdviseConnectionPoint(server.Get(), IID_IOPCShutdown, ControllingUnknown(), cookie_);
}

HRESULT TVelqorShutdownEvent::ShutdownRequest(LPCWSTR /*reason*/) {
    adviseResult_ = E_FAIL;
    if (!connection_ || posted_) return S_OK;
    posted_ = true;
    if (const auto& window = connection_->NotifyWindow()) window->Post(WM_VELQOR_SHUTDOWN, 0);
    return S_OK;
}

// TVelqorCOMConnection

TVelqorCOMConnection::TVelqorCOMConnection() : useGIT_(UseGlobalInterfaceTable) {}

TVelqorCOMConnection::~TVelqorCOMConnection() {
    try {
        TVelqorCOMConnection::ReleaseServer();
    } catch (...) {
        // nothing to report to from a destructor
    }
}

void TVelqorCOMConnection::Connect(const std::string& clientName, const std::string& serverName,
                                   const std::string& computerName, const ParamLines& /*params*/,
                                   velqor::NotifyWindow window, int32_t connectDelay) {
    serverName_ = serverName;
    computerName_ = computerName;
    clientName_ = clientName;
    notifyWindow_ = std::move(window);
    connectDelay_ = connectDelay;
    connectionPointSupport_ = -1;
    if (connected_) return;

    ReleaseServer();
    ForgetUnansweredCalls();
    CLSID clsid{};
    if (!TextToCLSID(serverName_, clsid))
        throw EOPCServerException(MsgText(Msg::ServerNameNotFound));
    serverObject_ = CreateServerObject(clsid, computerName_);
    if (useGIT_ && serverObject_)
        serverHolder_ = std::make_unique<TGIP>(serverObject_.Get(), IID_IUnknown);
    if (connectDelay_ > 0) WaitConnectDelay(DWORD(connectDelay_));
    if (!serverObject_) throw EOPCServerException(MsgFormat(Msg::UnableToConnect, serverName_));
    connected_ = true;
    opcCommon_ = com::QueryAs<IOPCCommon>(serverObject_);
    // The results of the advise and of the client name are of no consequence, but a call that
    // was cancelled or ran out of time ends the connect: the user gave up, or the server does
    // not answer.
    const auto giveUpIfEnded = [this] {
        if (!CallEndedByBounds()) return;
        connected_ = false;
        ReleaseServer();
        RaiseIfBoundsEnded(RPC_E_CALL_CANCELED);
    };
    shutdownSink_ = com::MakeObject<TVelqorShutdownEvent>(this);
    shutdownSink_->Advise();
    giveUpIfEnded();
    if (opcCommon_ && !Trimmed(clientName_).empty()) {
        BSTR name = ToWideString(clientName_);
        opcCommon_->SetClientName(name);
        SysFreeString(name);
        giveUpIfEnded();
    }
    AfterConnect();
    connected_ = true;
}

void TVelqorCOMConnection::Disconnect() {
    if (!connected_) return;
    connected_ = false;
    ReleaseServer();
}

void TVelqorCOMConnection::WaitConnectDelay(DWORD ms) { Sleep(ms); }

void TVelqorCOMConnection::ReleaseServer() {
    if (shutdownSink_) {
        if (serverObject_ && shutdownSink_->AdviseResult() == S_OK)
            UnadviseConnectionPoint(GetServer().Get(), IID_IOPCShutdown, shutdownSink_->Cookie());
        shutdownSink_->Detach();
        shutdownSink_.Reset();
    }
    opcCommon_.Reset();
    serverHolder_.reset();
    serverObject_.Reset();
}

int32_t TVelqorCOMConnection::GetLocaleId() {
    if (!opcCommon_) throw EOPCException(MsgText(Msg::NotConnected));
    LCID lcid = 0;
    CheckOPCResult(opcCommon_->GetLocaleID(&lcid));
    return int32_t(lcid);
}

void TVelqorCOMConnection::SetLocaleId(int32_t localeId) {
    if (opcCommon_) opcCommon_->SetLocaleID(LCID(localeId));
}

int32_t TVelqorCOMConnection::SpecVersion() {
    if (com::QueryAs<IOPCBrowse>(GetServer())) return 3;
    return HasConnectionPoints() ? 2 : 1;
}

com::IUnknown* TVelqorCOMConnection::ConnectionObject() {
    return static_cast<IVelqorDAConnection*>(this);
}

bool TVelqorCOMConnection::SetClientName(const std::string& name) {
    clientName_ = name;
    if (!opcCommon_ || Trimmed(name).empty()) return false;
    BSTR wide = ToWideString(name);
    const HRESULT hr = opcCommon_->SetClientName(wide);
    SysFreeString(wide);
    return hr == S_OK;
}

com::ComPtr<::IUnknown> TVelqorCOMConnection::GetServer() {
    if (useGIT_ && serverHolder_ && serverHolder_->Cookie() != 0)
        serverObject_ = serverHolder_->Get<::IUnknown>();
    return serverObject_;
}

com::ComPtr<::IUnknown> TVelqorCOMConnection::RequireServer() {
    auto server = GetServer();
    if (!server) throw EOPCServerException(MsgText(Msg::NotConnected));
    return server;
}

bool TVelqorCOMConnection::HasConnectionPoints() {
    if (connectionPointSupport_ < 0) {
        connectionPointSupport_ = 0;
        if (com::QueryAs<IConnectionPointContainer>(GetServer())) connectionPointSupport_ = 1;
    }
    return connectionPointSupport_ == 1;
}

}  // namespace velqor
