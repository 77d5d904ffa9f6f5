#include "Session.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ostream>

#include "com/VelqorComCalls.h"
#include "com/runtime/ComPlatform.h"
#include "contract/VelqorError.h"
#include "contract/VelqorParams.h"

namespace tagscope::cli {

using namespace velqor;

namespace {
bool g_quietReports = false;  // the owning thread only
constexpr int32_t kComProbeMs = 3000;
}  // namespace

ParamLines ParamsOf(const ConnectOptions& o) {
    ParamLines lines;
    auto add = [&](const char* key, const std::string& value) {
        if (!value.empty()) lines.push_back(std::string(key) + "=" + value);
    };
    add("xml-user", o.user);
    add("xml-pass", o.password);
    add("xml-proxy", o.proxy);
    add("xml-cafile", o.cafile);
    if (o.acceptBadCert) add(kParamAcceptBadCert.data(), "on");
    if (o.timeoutSeconds > 0)
        add("xml-timeout",
            std::to_string(std::max<long long>(1, std::llround(o.timeoutSeconds * 1000))));
    return lines;
}

Session::Session(const ConnectOptions& options, Streams streams) : streams_(streams) {
    // What the toolkit shows while handling messages goes to the error stream; a command line
    // has no message box.
    std::ostream* err = &streams_.err;
    ApplicationHooks::SetExceptionDisplay(
        [err](const std::exception& e) { *err << "error: " << ErrorLineText(e.what()) << '\n'; });
    ApplicationHooks::SetMessageDisplay([err](const std::string& text) {
        if (!g_quietReports) *err << text << (text.empty() || text.back() == '\n' ? "" : "\n");
    });

    // COM runs in this thread's single-threaded apartment, whose calls from servers the
    // session's event loop dispatches while it waits; every call into a server is bounded by
    // the time limit and ends on Ctrl-C.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const double limit =
        options.timeoutSeconds > 0 ? options.timeoutSeconds : kDefaultTimeoutSeconds;
    bounds_ = std::make_unique<TComCallBounds>(
        uint32_t(std::max<long long>(1, std::llround(limit * 1000))));
    // A call the platform went on waiting for after its cancel (or its time limit) cannot be
    // given up any other way: the command ends here, with what it would have said.
    bounds_->OnCancelNotHonoured([out = &streams_.out, err](TComCallEnd why) {
        out->flush();
        if (why == TComCallEnd::TimedOut) {
            *err << "error: " << MsgFormat(Msg::CallTimedOut, int32_t(LastCallLimit())) << '\n';
            err->flush();
            std::_Exit(kExitError);
        }
        *err << "interrupted\n";
        err->flush();
        std::_Exit(kExitInterrupted);
    });
    EventLoop::SetDefault(&loop_);
    server_ = std::make_unique<TVelqorServer>(&loop_);
    server_->SetClientName(options.clientName);
    server_->SetComputerName(options.computer);
    server_->SetServerName(options.server);
    server_->SetParams(ParamsOf(options));
    if (server_->Protocol() == coCOM)
        // A COM server's process may end without a word (no shutdown request, no failing call
        // while the client only listens): a status probe now and then finds out.
        server_->SetKeepAlive(kComProbeMs);
    else if (!options.keepAlive)
        server_->SetKeepAlive(0);
    server_->OnTimeout = [this](TVelqorSvr*) {
        lost_ = true;
        lostReason_ = "the server no longer answers";
    };
    server_->OnServerShutdown = [this](TVelqorSvr*, const std::string& reason) {
        lost_ = true;
        lostReason_ = reason.empty() ? "the server shut down" : reason;
    };
    server_->OnDisconnect = [this](TVelqorSvr*) {
        if (!lost_) {
            lost_ = true;
            lostReason_ = "disconnected from the server";
        }
    };
    try {
        Activate();
    } catch (...) {
        server_.reset();
        EventLoop::SetDefault(nullptr);
        bounds_.reset();
        CoUninitialize();
        throw;
    }
    lost_ = false;
    lostReason_.clear();
}

Session::~Session() {
    try {
        server_->OnDisconnect = nullptr;
        server_->SetActive(false);
    } catch (const std::exception& e) {
        // After Ctrl-C the leave-taking exchanges are aborted on purpose.
        if (!streams_.stop.load()) streams_.err << "error: " << ErrorLineText(e.what()) << '\n';
    }
    server_.reset();
    EventLoop::SetDefault(nullptr);
    bounds_.reset();
    CoUninitialize();
    g_quietReports = false;
    ApplicationHooks::SetExceptionDisplay(nullptr);
    ApplicationHooks::SetMessageDisplay(nullptr);
}

void Session::SetQuietReports(bool on) { g_quietReports = on; }

void Session::Reconnect() {
    if (server_->Active()) server_->SetActive(false);
    lost_ = false;
    lostReason_.clear();
    Activate();
}

void Session::Activate() {
    server_->SetActive(true);
    if (server_->Protocol() == coXML && BadCertificateAccepted(server_->Params())) {
        const std::string warning = BadCertificateWarning(server_->ServerName());
        if (!warning.empty()) streams_.err << warning << '\n';
    }
}

TVelqorGroup& Session::MakeGroup(const std::vector<std::string>& items, bool active, int32_t rateMs,
                                 float deadband, int32_t holdMs, int32_t waitMs,
                                 int32_t requestType) {
    TVelqorDefaultGroup& d = server_->OPCGroupDefault();
    d.IsActive = active;
    d.UpdateRate = rateMs;
    d.DeadBand = deadband;
    d.Subscribe = active;
    // Every item goes to the server in one call: the group is built locally first.
    server_->SetBatchMode(true);
    TVelqorGroup* g = server_->OPCGroups().AddGroup("tagscope-cli");
    g->SetXMLHoldtime(holdMs);
    g->SetXMLWaittime(waitMs);
    for (const auto& id : items) {
        TVelqorItem* item = g->OPCItems().AddItem(id);
        if (requestType != 0) item->SetRequestDatatype(requestType);
    }
    server_->SetBatchMode(false);
    g->OPCItems().AddAll();
    return *g;
}

}  // namespace tagscope::cli
