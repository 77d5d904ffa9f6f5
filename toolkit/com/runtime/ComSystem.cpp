// Kernel services: this computer's name, the system clock, the pause, and the user's attention
// signal (a hook, since a library has no speaker of its own).
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "ComClassTable.h"
#include "ComText.h"

namespace {

std::mutex g_beepMu;
std::function<void(UINT)>& BeepHook() {
    static std::function<void(UINT)> hook;
    return hook;
}

}  // namespace

namespace velqor::com {

void SetBeepHook(std::function<void(UINT type)> hook) {
    std::lock_guard lock(g_beepMu);
    BeepHook() = std::move(hook);
}

}  // namespace velqor::com

using namespace velqor::com;

BOOL MessageBeep(UINT uType) {
    std::function<void(UINT)> hook;
    {
        std::lock_guard lock(g_beepMu);
        hook = BeepHook();
    }
    if (hook) hook(uType);
    return TRUE;
}

BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize) {
    if (!nSize) return FALSE;
    std::string name = detail::ComputerName();
    if (!lpBuffer || *nSize < name.size() + 1) {
        *nSize = DWORD(name.size() + 1);
        return FALSE;
    }
    std::char_traits<char>::copy(lpBuffer, name.c_str(), name.size() + 1);
    *nSize = DWORD(name.size());
    return TRUE;
}

BOOL GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize) {
    if (!nSize) return FALSE;
    std::u16string name = Utf8ToUtf16(detail::ComputerName());
    if (!lpBuffer || *nSize < name.size() + 1) {
        *nSize = DWORD(name.size() + 1);
        return FALSE;
    }
    std::char_traits<char16_t>::copy(lpBuffer, name.c_str(), name.size() + 1);
    *nSize = DWORD(name.size());
    return TRUE;
}

void GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime) {
    if (!lpSystemTimeAsFileTime) return;
    constexpr int64_t kUnixEpoch100ns = 116444736000000000LL;
    auto since = std::chrono::system_clock::now().time_since_epoch();
    uint64_t ticks =
        uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(since).count() * 10 +
                 kUnixEpoch100ns);
    lpSystemTimeAsFileTime->dwLowDateTime = DWORD(ticks);
    lpSystemTimeAsFileTime->dwHighDateTime = DWORD(ticks >> 32);
}

void Sleep(DWORD dwMilliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}
