#include "model/VelqorComn.h"

#include <algorithm>
#include <cctype>

#include "contract/VelqorError.h"

namespace velqor {

// ---- TVelqorHandleComponent ----------------------------------------------------------------

TVelqorHandleComponent::~TVelqorHandleComponent() { DestroyHandle(); }

NotifyWindow TVelqorHandleComponent::Handle() {
    if (!window_) {
        EventLoop& loop = loop_ ? *loop_ : EventLoop::Default();
        window_ = MessageWindow::Create(loop, [this](uint32_t message, uintptr_t wParam,
                                                     std::unique_ptr<MessagePayload> payload) {
            if (message == WM_VELQOR_TIMER) {
                TimerTick();
            } else {
                WndProc(message, wParam, std::move(payload));
            }
        });
    }
    return window_;
}

void TVelqorHandleComponent::WndProc(uint32_t, uintptr_t, std::unique_ptr<MessagePayload>) {}

void TVelqorHandleComponent::DestroyHandle() {
    if (window_) {
        window_->Destroy();
        window_.reset();
    }
}

// ---- TVelqorSvr ----------------------------------------------------------------------------

TVelqorSvr::TVelqorSvr(EventLoop* loop) : TVelqorHandleComponent(loop) {}

TVelqorSvr::~TVelqorSvr() { Shutdown(); }

void TVelqorSvr::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    DestroyHandle();
    OnDisconnect = nullptr;
    if (active_) {
        try {
            Deactivate();
        } catch (const std::exception& e) {
            ApplicationHooks::ShowException(e);
        }
    }
    connection_.Reset();
}

void TVelqorSvr::SetComputerName(const std::string& name) {
    if (name == computerName_) return;
    if (!Loading()) SetActive(false);
    computerName_ = name;
}

void TVelqorSvr::SetServerName(const std::string& name) {
    if (name == serverName_) return;
    if (!Loading()) SetActive(false);
    serverName_ = name;
    if (name.size() > 1) {
        std::string lower = name;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        bool xml = lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0;
        SetProtocol(xml ? coXML : coCOM);
    }
}

void TVelqorSvr::SetProtocol(tVelqorConnectionType protocol) {
    if (protocol != coXML && protocol != coCOM) throw Exception(MsgText(Msg::ProtocolNotSupported));
    if (protocol == protocol_) return;
    protocol_ = protocol;
    if (protocol == coXML && keepAlive_ == 0) SetKeepAlive(60000);
    if (!Loading() && active_) {
        SetActive(false);
        SetActive(true);
    }
}

void TVelqorSvr::SetKeepAlive(int32_t ms) { keepAlive_ = ms == 0 ? 0 : std::max(ms, 500); }

void TVelqorSvr::SetClientName(const std::string& name) {
    clientName_ = name;
    if (!Designing() && active_ && connection_) connection_->SetClientName(name);
}

void TVelqorSvr::SetActive(bool on) {
    if (Loading()) {
        active_ = on;  // applied by Loaded
        return;
    }
    if (on == active_) return;
    if (on) {
        Activate();
    } else {
        Deactivate();
    }
}

void TVelqorSvr::Loaded() {
    TVelqorHandleComponent::Loaded();
    if (active_) {
        active_ = false;
        SetActive(true);
    }
}

com::ComPtr<IVelqorConnection> TVelqorSvr::CreateConnection() {
    throw Exception(MsgText(Msg::OverrideCreateConnection));
}

void TVelqorSvr::Activate() {
    shutdownReceived_ = false;
    probeFailed_ = false;
    NotifyWindow window = Handle();
    connection_.Reset();
    connection_ = CreateConnection();
    if (!connection_) throw Exception(MsgText(Msg::UnknownConnectionType));
    auto connect = [&] {
        connection_->Connect(clientName_, serverName_, computerName_, params_, window,
                             connectDelay_);
        AfterConnect();
        active_ = true;
        Activated();
    };
    if (Designing()) {
        try {
            connect();
        } catch (const std::exception& e) {
            ApplicationHooks::ShowException(e);
        }
    } else {
        connect();
    }
    if (OnConnect) OnConnect(this);
}

void TVelqorSvr::Activated() {
    if (!Designing() && keepAlive_ > 0) Handle()->SetTimer(kKeepAliveTimer, keepAlive_);
}

void TVelqorSvr::Deactivating() {
    // The timer is stopped whatever KeepAlive reads now: it may have been set to 0 while the
    // timer ran, and a timer left running would outlive the connection.
    if (!Designing() && HandleAllocated()) Handle()->KillTimer(kKeepAliveTimer);
}

void TVelqorSvr::Deactivate() {
    auto finish = [this] {
        active_ = false;
        // The connection goes even when the application's handler raises.
        struct Release {
            com::ComPtr<IVelqorConnection>& c;
            ~Release() { c.Reset(); }
        } release{connection_};
        if (OnDisconnect) OnDisconnect(this);
    };
    try {
        Deactivating();
        if (connection_) connection_->Disconnect();
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TVelqorSvr::TimerTick() {
    if (Designing() || !active_ || !connection_) return;
    bool alive = false;
    try {
        alive = connection_->CheckConnection();
    } catch (const std::exception&) {
        alive = false;  // a probe that cannot even be made counts as a lost server
    }
    if (alive) return;
    probeFailed_ = true;
    if (HandleAllocated()) Handle()->KillTimer(kKeepAliveTimer);
    try {
        if (OnTimeout) OnTimeout(this);
    } catch (...) {
        SetActive(false);
        throw;
    }
    SetActive(false);
}

void TVelqorSvr::WndProc(uint32_t message, uintptr_t wParam,
                         std::unique_ptr<MessagePayload> payload) {
    if (message == WM_VELQOR_SHUTDOWN) {
        HandleShutdown(std::move(payload));
    } else {
        TVelqorHandleComponent::WndProc(message, wParam, std::move(payload));
    }
}

void TVelqorSvr::HandleShutdown(std::unique_ptr<MessagePayload> payload) {
    if (shutdownReceived_) return;
    shutdownReceived_ = true;
    std::string reason;
    if (auto* p = dynamic_cast<ShutdownPayload*>(payload.get())) reason = p->Reason;
    try {
        if (OnServerShutdown) OnServerShutdown(this, reason);
    } catch (...) {
        SetActive(false);
        throw;
    }
    SetActive(false);
}

}  // namespace velqor
