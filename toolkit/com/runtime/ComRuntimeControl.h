// Controls of the toolkit's own COM runtime that the platform has no calls for: registering
// classes and simulated remote computers, reading the allocation accounting, the beep hook.
// For tests and the simulated servers; COM client code never includes this header. On Windows
// the tests have the class registration over the platform's COM (tests/com/PlatformClasses.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "com/runtime/ComPlatform.h"

namespace velqor::com {

// Task memory, BSTRs and global memory blocks handed out and not yet freed, and the frees of
// pointers the runtime never handed out (or had already taken back), which are counted and
// otherwise ignored.
struct AllocationStats {
    int64_t LiveTaskBlocks = 0;
    int64_t LiveStrings = 0;
    int64_t LiveGlobals = 0;
    uint64_t TaskAllocations = 0, TaskFrees = 0;
    uint64_t StringAllocations = 0, StringFrees = 0;
    uint64_t GlobalAllocations = 0, GlobalFrees = 0;
    uint64_t BadFrees = 0;

    int64_t Live() const { return LiveTaskBlocks + LiveStrings + LiveGlobals; }
};
AllocationStats GetAllocationStats();

// Torture mode: after `count` more successful allocations of task memory, strings or global
// memory, every further one fails (returns null) until this is called again; a negative count
// switches the failures off. Proves that callers survive and clean up when memory runs out.
void FailAllocationsAfter(int64_t count);

// One class as the registry knows it. Create makes a new object and queries it for riid.
struct ClassRegistration {
    ::CLSID Clsid{};
    std::string ProgId;                    // "Vendor.Server.1"
    std::string VersionIndependentProgId;  // "Vendor.Server"
    std::string Description;               // the CLSID key's default value
    std::vector<::CATID> Categories;       // "Implemented Categories"
    bool LocalServer = false;              // reached as a local server, else in-process
    std::function<HRESULT(const ::IID& riid, void** object)> Create;
};

// Registers (or replaces) a class on this computer, or on the simulated remote computer of
// that name (registered first with RegisterRemoteComputer).
void RegisterComClass(const ClassRegistration& reg, const std::string& computer = "");
bool UnregisterComClass(const ::CLSID& clsid, const std::string& computer = "");
std::vector<ClassRegistration> RegisteredClasses(const std::string& computer = "");

// A computer name that object creation reaches as another computer; unknown names fail as an
// unreachable computer does.
void RegisterRemoteComputer(const std::string& name);
void UnregisterRemoteComputer(const std::string& name);

// What MessageBeep does (by default nothing); an empty function restores that.
void SetBeepHook(std::function<void(UINT type)> hook);

// How often the calling thread has initialised COM without uninitialising it.
int ApartmentInitCount();

// A simulated server that takes ms milliseconds to answer. Simulated servers run in the
// client's process and thread here, so the client's thread waits as it would for another
// process's answer: its apartment's message filter is asked every few milliseconds whether to
// go on waiting (MessagePending, as the platform does while the caller's messages arrive).
// RPC_E_CALL_CANCELED when the filter cancels the call, S_OK when the time has passed.
HRESULT WaitAsServer(DWORD ms);

}  // namespace velqor::com
