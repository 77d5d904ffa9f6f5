// Clipboard format numbers and storage media.
#include <map>
#include <mutex>

#include "ComClassTable.h"
#include "ComText.h"

namespace {

std::mutex g_formatsMu;
std::map<std::string, UINT>& Formats() {
    static auto* formats = new std::map<std::string, UINT>;
    return *formats;
}

// Registered formats are numbered from 0xC000 in order of first registration; names compare
// without regard to letter case.
UINT Register(const std::string& name) {
    if (name.empty()) return 0;
    std::lock_guard lock(g_formatsMu);
    auto& formats = Formats();
    auto [it, fresh] =
        formats.emplace(velqor::com::detail::LowerAscii(name), UINT(0xC000 + formats.size()));
    return it->second;
}

}  // namespace

UINT RegisterClipboardFormatA(LPCSTR lpszFormat) { return lpszFormat ? Register(lpszFormat) : 0; }

UINT RegisterClipboardFormatW(LPCWSTR lpszFormat) {
    return lpszFormat ? Register(velqor::com::Utf16ToUtf8(lpszFormat)) : 0;
}

void ReleaseStgMedium(STGMEDIUM* pmedium) {
    if (!pmedium) return;
    if (pmedium->pUnkForRelease) {
        pmedium->pUnkForRelease->Release();
    } else if (pmedium->tymed == TYMED_HGLOBAL) {
        GlobalFree(pmedium->hGlobal);
    } else if (pmedium->tymed == TYMED_FILE) {
        CoTaskMemFree(pmedium->lpszFileName);
    }
    pmedium->tymed = TYMED_NULL;
    pmedium->hGlobal = nullptr;
    pmedium->pUnkForRelease = nullptr;
}
