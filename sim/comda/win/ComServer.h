// The simulated servers as the system's COM servers on Windows: their registry entries, their
// class factories, and the count of locks and objects that keeps a server process or DLL alive.
// The local server (comda-sim.exe) and the in-process form (comda-sim-inproc.dll) share it.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "com/runtime/PlatformObject.h"

namespace velqor::sim {

// One class a server module serves.
struct ServedClass {
    CLSID Clsid;
    std::string ProgId;  // version independent; the versioned one adds ".1"
    std::string Description;
    std::vector<CATID> Categories;
    HRESULT (*Create)(REFCLSID clsid, REFIID riid, void** object);
};
// The simulated servers and the server enumerator.
const std::vector<ServedClass>& ServedClasses();

enum class ServerForm { Local, InProcess };
// Writes every served class (CLSID, LocalServer32 or InprocServer32, ProgIDs, implemented
// categories) for the module at that path; UnregisterServedClasses removes them.
HRESULT RegisterServedClasses(const std::wstring& modulePath, ServerForm form);
HRESULT UnregisterServedClasses();

// IClassFactory::LockServer locks, process-wide.
std::atomic<long>& ServerLocks();
// No object of the module is alive and no client holds a lock: what lets the module go.
// `factories` is the number of class factory objects the module itself keeps.
bool ServerIdle(long factories);

class SimClassFactory : public com::PlatformObject<IClassFactory> {
  public:
    explicit SimClassFactory(const ServedClass& served) : served_(served) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

  private:
    const ServedClass& served_;
};

}  // namespace velqor::sim
