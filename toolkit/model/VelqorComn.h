// The base of the toolkit's components: design mode and loading state, the hidden message
// window, and TVelqorSvr, which owns a connection's life cycle (connect, keep-alive, shutdown).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "contract/EventLoop.h"
#include "contract/VelqorIntf.h"
#include "contract/VelqorTransport.h"
#include "runtime/NonCopyable.h"
#include "runtime/Unknown.h"

// <windows.h> maps SetComputerName onto its A or W function by UNICODE, which a program may set
// (Qt does) where the toolkit does not: the component's own name stays its own.
#ifdef SetComputerName
#undef SetComputerName
#endif

namespace velqor {

// Base of every toolkit component. There is no form designer here: design mode and the
// loading state are set by code.
class TVelqorComponent : private TNonCopyable {
  public:
    virtual ~TVelqorComponent() = default;

    // Design mode: the component is being edited, not run.
    bool Designing() const { return designing_; }
    virtual void SetDesigning(bool on) { designing_ = on; }

    // Loading state: the component is being restored from stored settings; some properties
    // only record their values until Loaded is called.
    bool Loading() const { return loading_; }
    void BeginLoading() { loading_ = true; }
    // Ends the loading state; descendants apply what was recorded.
    virtual void Loaded() { loading_ = false; }

  private:
    bool designing_ = false;
    bool loading_ = false;
};

// A component that owns a hidden message window on the thread that creates it.
class TVelqorHandleComponent : public TVelqorComponent {
  public:
    // The loop the window is created on; nullptr means EventLoop::Default() at creation.
    explicit TVelqorHandleComponent(EventLoop* loop = nullptr) : loop_(loop) {}
    ~TVelqorHandleComponent() override;

    // The hidden window, created on first need.
    NotifyWindow Handle();
    bool HandleAllocated() const { return window_ != nullptr; }

    // Called for each timer message of the window.
    virtual void TimerTick() {}

  protected:
    // Handles a message other than a timer; unhandled messages are ignored.
    virtual void WndProc(uint32_t message, uintptr_t wParam,
                         std::unique_ptr<MessagePayload> payload);
    // Destroys the window: queued messages are dropped, timers stop.
    void DestroyHandle();

  private:
    EventLoop* loop_;
    NotifyWindow window_;
};

class TVelqorSvr;
using TOnOPCServerShutdownEvent =
    std::function<void(TVelqorSvr* sender, const std::string& reason)>;
using TOnOPCConnectEvent = std::function<void(TVelqorSvr* sender)>;
using TOnOPCTimeoutEvent = std::function<void(TVelqorSvr* sender)>;

// The connection life cycle of a server component.
class TVelqorSvr : public TVelqorHandleComponent {
  public:
    static constexpr int kKeepAliveTimer = 1;

    explicit TVelqorSvr(EventLoop* loop = nullptr);
    ~TVelqorSvr() override;

    const std::string& ComputerName() const { return computerName_; }
    void SetComputerName(const std::string& name);
    const std::string& ServerName() const { return serverName_; }
    void SetServerName(const std::string& name);
    bool Active() const { return active_; }
    void SetActive(bool on);
    const std::string& ClientName() const { return clientName_; }
    void SetClientName(const std::string& name);
    int32_t KeepAlive() const { return keepAlive_; }
    void SetKeepAlive(int32_t ms);
    std::string Version() const { return kVelqorVersion; }
    void SetVersion(const std::string&) {}  // read-only; writes are ignored

    tVelqorConnectionType Protocol() const { return protocol_; }
    void SetProtocol(tVelqorConnectionType protocol);
    const ParamLines& Params() const { return params_; }
    void SetParams(const ParamLines& lines) { params_ = lines; }
    int32_t ConnectDelay() const { return connectDelay_; }
    void SetConnectDelay(int32_t ms) { connectDelay_ = ms; }

    // The held connection (empty when none).
    const com::ComPtr<IVelqorConnection>& Connection() const { return connection_; }
    bool Connected() const { return connection_ != nullptr; }
    bool ShutdownReceived() const { return shutdownReceived_; }
    // The server is gone for this connection: it announced its shutdown, or did not answer the
    // keep-alive probe. Taking groups and items down then makes no calls that could only fail
    // or wait out their time limit.
    bool ServerGone() const { return shutdownReceived_ || probeFailed_; }

    // Server status; raises EOPCServerException "Not connected to server" when inactive.
    virtual void GetStatus(tServerStateRecord& status) = 0;

    void TimerTick() override;
    void Loaded() override;

    TOnOPCServerShutdownEvent OnServerShutdown;
    TOnOPCConnectEvent OnConnect;
    TOnOPCConnectEvent OnDisconnect;
    TOnOPCTimeoutEvent OnTimeout;

  protected:
    // A new connection of the selected transport; the base has none to offer.
    virtual com::ComPtr<IVelqorConnection> CreateConnection();
    virtual void AfterConnect() {}
    // Starts the keep-alive timer.
    virtual void Activated();
    // Stops the keep-alive timer.
    virtual void Deactivating();

    void WndProc(uint32_t message, uintptr_t wParam,
                 std::unique_ptr<MessagePayload> payload) override;
    // Common part of every destructor down the hierarchy: no more messages, no OnDisconnect,
    // deactivate. Descendants call it first in their own destructor so that their overrides
    // still run.
    void Shutdown();

  private:
    void Activate();
    void Deactivate();
    void HandleShutdown(std::unique_ptr<MessagePayload> payload);

    std::string computerName_, serverName_, clientName_;
    bool active_ = false;
    int32_t keepAlive_ = 0;
    tVelqorConnectionType protocol_ = coCOM;
    ParamLines params_{"xml-user=", "xml-pass=", "xml-proxy="};
    int32_t connectDelay_ = 0;
    com::ComPtr<IVelqorConnection> connection_;
    bool shutdownReceived_ = false;
    bool probeFailed_ = false;
    bool shutDown_ = false;
};

}  // namespace velqor
