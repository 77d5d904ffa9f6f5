// The bottom of the COM transport: a server name (ProgID or braced CLSID) and an optional computer
// name become a live reference to an OPC server object. The connection keeps that reference,
// answers the server-neutral operations of IVelqorConnection through IOPCCommon, listens for the
// server's shutdown request, and offers the helpers the other COM files use: the OPC result
// check, text, time and CLSID conversions, connection-point advise and unadvise, and the holder
// of a global-interface-table registration.
//
// Only the platform's COM types and calls are used here, so the same code builds against the
// platform's own COM.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "com/ComValues.h"  // FileTimeToLocalDateTime, LocalDateTimeToFileTime
#include "com/OpcDaIntf.h"
#include "com/runtime/PlatformObject.h"
#include "contract/VelqorTransport.h"

namespace velqor {

// Process-wide: when set before a connection object is created, that connection holds its
// server interfaces through the global interface table. Off by default.
extern bool UseGlobalInterfaceTable;

// The result code the last CheckOPCResult saw.
HRESULT LastOPCResult();
// The OPC result check (the contract's OleCheck): success codes return; a failure with a text
// in the result table raises EOPCException "<message> <name>"; any other failure raises
// EOleSysError with the system's text.
void CheckOPCResult(HRESULT code);
// The platform's COM error check: a call the thread's bounds ended raises as CheckOPCResult
// does; any other failure raises EOleSysError with the system's text.
void ComCheck(HRESULT code);

// A new BSTR of the text; the caller frees it with SysFreeString.
BSTR ToWideString(const std::string& text);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", or empty on failure.
std::string CLSIDToText(const CLSID& clsid);
// A registered ProgID first, else a braced CLSID text; false when neither.
bool TextToCLSID(const std::string& text, CLSID& clsid);

// Advises sink on object's connection point for iid. E_FAIL for no object or no such point;
// an object without IConnectionPointContainer raises EOleSysError E_NOINTERFACE.
HRESULT AdviseConnectionPoint(::IUnknown* object, REFIID iid, ::IUnknown* sink, DWORD& cookie);
// S_OK when the container, the point and the unadvise all succeed, else E_FAIL.
HRESULT UnadviseConnectionPoint(::IUnknown* object, REFIID iid, DWORD cookie);

// The server object of clsid: in-process or local for a blank computer name; through
// CoCreateInstanceEx otherwise (this computer's own name adds the local contexts). A failed
// creation raises EOleSysError.
com::ComPtr<::IUnknown> CreateServerObject(const CLSID& clsid, const std::string& computerName);

// One registration in the global interface table; revoked when replaced or destroyed.
class TGIP {
  public:
    TGIP() = default;
    TGIP(::IUnknown* pointer, REFIID iid) { Create(pointer, iid); }
    ~TGIP();
    TGIP(const TGIP&) = delete;
    TGIP& operator=(const TGIP&) = delete;

    void Create(::IUnknown* pointer, REFIID iid);
    // A new reference to the registered interface (the IID it was registered under).
    void Get(void** pointer) const;
    template <class I>
    com::ComPtr<I> Get() const {
        com::ComPtr<I> r;
        Get(reinterpret_cast<void**>(r.Put()));
        return r;
    }
    void Revoke();
    DWORD Cookie() const { return cookie_; }
    const IID& Iid() const { return iid_; }

  private:
    DWORD cookie_ = 0;
    IID iid_{};
};

// Base of the COM transport's reference-counted objects (connection, server list).
class TVelqorCOMComponent {
  public:
    virtual ~TVelqorCOMComponent() = default;
};

class TVelqorCOMConnection;

// The connection's IOPCShutdown sink. The connection detaches it when it lets go of the server,
// so a call from a server that still holds it reaches nothing.
class TVelqorShutdownEvent : public com::PlatformObject<IOPCShutdown> {
  public:
    explicit TVelqorShutdownEvent(TVelqorCOMConnection* connection) : connection_(connection) {}
    // Advises the sink when the connection's server has connection points.
    void Advise();

    // Posts the shutdown message once (the reason is not passed on) and forgets the advise,
    // so that the following disconnect does not call the departing server. A detached sink
    // posts nothing.
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR reason) override;

    void Detach() { connection_ = nullptr; }
    DWORD Cookie() const { return cookie_; }
    HRESULT AdviseResult() const { return adviseResult_; }

  private:
    TVelqorCOMConnection* connection_;  // not counted
    DWORD cookie_ = 0;
    HRESULT adviseResult_ = E_FAIL;
    bool posted_ = false;
};

// IVelqorConnection for an OPC server reached through COM. Not created on its own: the COM DA
// connection derives from it.
class TVelqorCOMConnection : public com::ComObject<IVelqorDAConnection>,
                             public TVelqorCOMComponent {
  public:
    TVelqorCOMConnection();
    ~TVelqorCOMConnection() override;

    // IVelqorConnection
    void Connect(const std::string& clientName, const std::string& serverName,
                 const std::string& computerName, const ParamLines& params,
                 velqor::NotifyWindow window, int32_t connectDelay) override;
    void Disconnect() override;
    int32_t GetLocaleId() override;               // EOPCException without IOPCCommon
    void SetLocaleId(int32_t localeId) override;  // result ignored; nothing without IOPCCommon
    int32_t SpecVersion() override;               // 3 IOPCBrowse, 2 connection points, else 1
    com::IUnknown* ConnectionObject() override;   // this object
    tVelqorConnectionType ConnectionType() override { return coCOM; }
    bool SetClientName(const std::string& name) override;  // true only when the server took it
    bool CheckConnection() override { return true; }

    // The server object (refreshed from the global interface table when that is used).
    com::ComPtr<::IUnknown> GetServer();
    // As GetServer; EOPCServerException "Not connected to server" when there is none.
    com::ComPtr<::IUnknown> RequireServer();
    bool HasConnectionPoints();

    bool Connected() const { return connected_; }
    const std::string& ServerName() const { return serverName_; }
    const std::string& ComputerName() const { return computerName_; }
    const std::string& ClientName() const { return clientName_; }
    int32_t ConnectDelay() const { return connectDelay_; }
    bool UseGIT() const { return useGIT_; }
    const velqor::NotifyWindow& NotifyWindow() const { return notifyWindow_; }
    TVelqorShutdownEvent* ShutdownSink() const { return shutdownSink_.Get(); }

  protected:
    // Last step of the connect sequence; nothing here.
    virtual void AfterConnect() {}
    // Drops everything that belongs to the current server: unadvises the shutdown sink (unless
    // the server announced its shutdown), releases IOPCCommon and the server object.
    virtual void ReleaseServer();
    // The pause after the server object is created (Sleep).
    virtual void WaitConnectDelay(DWORD ms);

  private:
    com::ComPtr<::IUnknown> serverObject_;
    com::ComPtr<IOPCCommon> opcCommon_;
    com::ComPtr<TVelqorShutdownEvent> shutdownSink_;
    velqor::NotifyWindow notifyWindow_;
    std::string serverName_, computerName_;
    bool connected_ = false;
    int32_t connectDelay_ = 0;
    int32_t connectionPointSupport_ = -1;
    std::string clientName_;
    bool useGIT_;
    std::unique_ptr<TGIP> serverHolder_;
};

}  // namespace velqor
