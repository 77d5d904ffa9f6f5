// comda-sim-inproc.dll: the simulated OPC DA servers and the server enumerator as an in-process
// COM server (regsvr32 registers it). Its objects live in the multithreaded apartment; their
// callbacks and clocks run on a thread of the DLL's own, which stops when the DLL may go.
#include <mutex>
#include <thread>

#include "ComServer.h"
#include "comda/SimFaults.h"
#include "contract/EventLoop.h"

namespace {

using namespace velqor;
using namespace velqor::sim;

HINSTANCE g_module = nullptr;

// The event loop thread the servers' callbacks and clocks run on.
class LoopThread {
  public:
    // At process exit the thread is gone already, and joining it would wait forever.
    ~LoopThread() {
        if (thread_.joinable()) thread_.detach();
    }
    void Start() {
        std::lock_guard lock(mu_);
        if (thread_.joinable()) return;
        // The fault switches of the client's environment.
        ApplySimFaultsFromEnvironment();
        loop_ = std::make_unique<PlainEventLoop>();
        EventLoop::SetDefault(loop_.get());
        thread_ = std::thread([loop = loop_.get()] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            loop->Run();
            loop->ProcessPending();
            CoUninitialize();
        });
    }
    void Stop() {
        std::lock_guard lock(mu_);
        if (!thread_.joinable()) return;
        loop_->Quit();
        thread_.join();
        EventLoop::SetDefault(nullptr);
        loop_.reset();
    }

  private:
    std::mutex mu_;
    std::unique_ptr<PlainEventLoop> loop_;
    std::thread thread_;
};

LoopThread& Loop() {
    static LoopThread loop;
    return loop;
}

std::wstring ModulePath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(g_module, path, MAX_PATH);
    return path;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = module;
        DisableThreadLibraryCalls(module);
    }
    return TRUE;
}

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    for (const ServedClass& c : ServedClasses()) {
        if (!IsEqualCLSID(c.Clsid, clsid)) continue;
        Loop().Start();
        return com::MakeObject<SimClassFactory>(c)->QueryInterface(riid, object);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    if (!ServerIdle(0)) return S_FALSE;
    Loop().Stop();
    return S_OK;
}

HRESULT STDAPICALLTYPE DllRegisterServer() {
    return RegisterServedClasses(ModulePath(), ServerForm::InProcess);
}

HRESULT STDAPICALLTYPE DllUnregisterServer() { return UnregisterServedClasses(); }

}  // extern "C"
