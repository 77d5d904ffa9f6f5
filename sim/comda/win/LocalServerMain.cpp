// comda-sim.exe: the simulated OPC DA servers and the server enumerator as a local COM server.
//   comda-sim /RegServer     registers the classes for this program (and drops an in-process
//                            registration of them); /UnregServer removes them
//   comda-sim [-Embedding]   serves: one process for every client, until the last object is
//                            released and no client locks it, after a short linger
#include <chrono>
#include <cwctype>
#include <iostream>
#include <string>
#include <vector>

#include "ComServer.h"
#include "comda/SimFaults.h"
#include "comda/SimServers.h"
#include "contract/EventLoop.h"

namespace {

using namespace velqor;
using namespace velqor::sim;

constexpr auto kLinger = std::chrono::seconds(3);
constexpr auto kPoll = std::chrono::milliseconds(100);

std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s) c = wchar_t(std::towlower(c));
    return s;
}

std::wstring ModulePath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

int Serve() {
    // The fault switches of the environment the server was started in (by its first client).
    if (std::string refused = ApplySimFaultsFromEnvironment(); !refused.empty())
        std::cerr << "comda-sim: " << refused << "; no fault switches set from it\n";
    PlainEventLoop loop;
    EventLoop::SetDefault(&loop);
    std::vector<DWORD> cookies;
    std::vector<com::ComPtr<SimClassFactory>> factories;
    for (const ServedClass& c : ServedClasses()) {
        auto factory = com::MakeObject<SimClassFactory>(c);
        DWORD cookie = 0;
        HRESULT hr = CoRegisterClassObject(c.Clsid, factory.Get(), CLSCTX_LOCAL_SERVER,
                                           REGCLS_MULTIPLEUSE, &cookie);
        if (FAILED(hr)) {
            std::cerr << "comda-sim: cannot offer " << c.ProgId << ": 0x" << std::hex << hr << '\n';
            continue;
        }
        cookies.push_back(cookie);
        factories.push_back(factory);
    }
    const long own = long(factories.size());
    // Runs the servers' callbacks and clocks until no client has held an object for the linger
    // time; new activations are suspended before the last look, so none is lost in between.
    auto idleSince = std::chrono::steady_clock::now();
    for (;;) {
        loop.RunFor(kPoll);
        // A restart: the clients were asked to shut down; the process ends once they have had
        // a moment to hear it, and the next activation starts a new one.
        if (SimulatedRestartAnnounced()) {
            loop.RunFor(std::chrono::milliseconds(300));
            break;
        }
        if (!ServerIdle(own)) {
            idleSince = std::chrono::steady_clock::now();
            continue;
        }
        if (std::chrono::steady_clock::now() - idleSince < kLinger) continue;
        CoSuspendClassObjects();
        if (ServerIdle(own)) break;
        CoResumeClassObjects();
        idleSince = std::chrono::steady_clock::now();
    }
    for (DWORD cookie : cookies) CoRevokeClassObject(cookie);
    factories.clear();
    loop.ProcessPending();
    EventLoop::SetDefault(nullptr);
    return 0;
}

}  // namespace

int main() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring command = argc > 1 ? Lower(argv[1]) : L"";
    LocalFree(argv);
    if (!command.empty() && (command[0] == L'/' || command[0] == L'-')) command.erase(0, 1);

    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) return 1;
    int rc = 0;
    if (command == L"regserver") {
        hr = RegisterServedClasses(ModulePath(), ServerForm::Local);
        rc = SUCCEEDED(hr) ? 0 : 1;
    } else if (command == L"unregserver") {
        hr = UnregisterServedClasses();
        rc = SUCCEEDED(hr) ? 0 : 1;
    } else if (command.empty() || command == L"embedding") {
        rc = Serve();
    } else {
        std::cerr << "usage: comda-sim [/RegServer | /UnregServer | -Embedding]\n";
        rc = 2;
    }
    if (rc == 1) std::cerr << "comda-sim: registry update failed: 0x" << std::hex << hr << '\n';
    CoUninitialize();
    return rc;
}
