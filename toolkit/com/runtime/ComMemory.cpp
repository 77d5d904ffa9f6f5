// Task memory, BSTRs and global memory, each block recorded so that tests can prove every
// block is freed exactly once. A free of a pointer the runtime does not know is counted, not
// performed.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "ComPlatform.h"
#include "ComRuntimeControl.h"

namespace {

enum class Kind { Task, String, Global };

struct Block {
    Kind kind;
    size_t size;
    int locks = 0;
};

struct Accounting {
    std::mutex mu;
    std::unordered_map<void*, Block> blocks;
    velqor::com::AllocationStats stats;
    int64_t allowed = -1;  // allocations left before failures start; -1: no failures
};

Accounting& Books() {
    static Accounting* books = new Accounting;  // outlives static objects that free late
    return *books;
}

void* Allocate(Kind kind, size_t size) {
    Accounting& a = Books();
    std::lock_guard lock(a.mu);
    if (a.allowed == 0) return nullptr;
    void* p = std::malloc(size ? size : 1);
    if (!p) return nullptr;
    if (a.allowed > 0) --a.allowed;
    a.blocks.emplace(p, Block{kind, size});
    auto& s = a.stats;
    switch (kind) {
        case Kind::Task:
            ++s.LiveTaskBlocks, ++s.TaskAllocations;
            break;
        case Kind::String:
            ++s.LiveStrings, ++s.StringAllocations;
            break;
        case Kind::Global:
            ++s.LiveGlobals, ++s.GlobalAllocations;
            break;
    }
    return p;
}

// Removes the block from the books; false (and counted) when p is not a live block of kind.
bool Forget(Kind kind, void* p) {
    Accounting& a = Books();
    std::lock_guard lock(a.mu);
    auto it = a.blocks.find(p);
    auto& s = a.stats;
    if (it == a.blocks.end() || it->second.kind != kind) {
        ++s.BadFrees;
        return false;
    }
    a.blocks.erase(it);
    switch (kind) {
        case Kind::Task:
            --s.LiveTaskBlocks, ++s.TaskFrees;
            break;
        case Kind::String:
            --s.LiveStrings, ++s.StringFrees;
            break;
        case Kind::Global:
            --s.LiveGlobals, ++s.GlobalFrees;
            break;
    }
    return true;
}

Block* Find(Kind kind, void* p) {
    auto& blocks = Books().blocks;
    auto it = blocks.find(p);
    return it != blocks.end() && it->second.kind == kind ? &it->second : nullptr;
}

// A BSTR points 4 bytes into its block, just behind the byte-length prefix.
constexpr size_t kPrefix = sizeof(uint32_t);

void* BstrBlock(BSTR s) { return reinterpret_cast<char*>(s) - kPrefix; }

BSTR AllocBytes(const void* data, size_t byteLen) {
    if (byteLen > 0xFFFFFFF0u) return nullptr;
    char* block = static_cast<char*>(Allocate(Kind::String, kPrefix + byteLen + 2));
    if (!block) return nullptr;
    uint32_t len = uint32_t(byteLen);
    std::memcpy(block, &len, kPrefix);
    if (data) {
        std::memcpy(block + kPrefix, data, byteLen);
    } else {
        std::memset(block + kPrefix, 0, byteLen);
    }
    block[kPrefix + byteLen] = 0;
    block[kPrefix + byteLen + 1] = 0;
    return reinterpret_cast<BSTR>(block + kPrefix);
}

}  // namespace

namespace velqor::com {
AllocationStats GetAllocationStats() {
    std::lock_guard lock(Books().mu);
    return Books().stats;
}

void FailAllocationsAfter(int64_t count) {
    std::lock_guard lock(Books().mu);
    Books().allowed = count < 0 ? -1 : count;
}
}  // namespace velqor::com

LPVOID CoTaskMemAlloc(SIZE_T cb) { return Allocate(Kind::Task, cb); }

LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
    if (!pv) return CoTaskMemAlloc(cb);
    if (cb == 0) {
        CoTaskMemFree(pv);
        return nullptr;
    }
    size_t old = 0;
    {
        Accounting& a = Books();
        std::lock_guard lock(a.mu);
        Block* b = Find(Kind::Task, pv);
        if (!b) {
            ++a.stats.BadFrees;
            return nullptr;
        }
        old = b->size;
    }
    void* p = CoTaskMemAlloc(cb);
    if (!p) return nullptr;
    std::memcpy(p, pv, old < cb ? old : cb);
    CoTaskMemFree(pv);
    return p;
}

void CoTaskMemFree(LPVOID pv) {
    if (pv && Forget(Kind::Task, pv)) std::free(pv);
}

BSTR SysAllocString(const OLECHAR* psz) {
    if (!psz) return nullptr;
    return AllocBytes(psz, std::char_traits<char16_t>::length(psz) * sizeof(OLECHAR));
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    return AllocBytes(strIn, size_t(ui) * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) { return AllocBytes(psz, len); }

void SysFreeString(BSTR bstrString) {
    if (!bstrString) return;
    void* block = BstrBlock(bstrString);
    if (Forget(Kind::String, block)) std::free(block);
}

UINT SysStringByteLen(BSTR bstr) {
    if (!bstr) return 0;
    uint32_t len;
    std::memcpy(&len, BstrBlock(bstr), kPrefix);
    return len;
}

UINT SysStringLen(BSTR pbstr) { return SysStringByteLen(pbstr) / sizeof(OLECHAR); }

HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
    void* p = Allocate(Kind::Global, dwBytes);
    if (p && (uFlags & GMEM_ZEROINIT)) std::memset(p, 0, dwBytes);
    return p;
}

LPVOID GlobalLock(HGLOBAL hMem) {
    std::lock_guard lock(Books().mu);
    Block* b = hMem ? Find(Kind::Global, hMem) : nullptr;
    if (!b) return nullptr;
    ++b->locks;
    return hMem;
}

BOOL GlobalUnlock(HGLOBAL hMem) {
    std::lock_guard lock(Books().mu);
    Block* b = hMem ? Find(Kind::Global, hMem) : nullptr;
    if (!b || b->locks == 0) return FALSE;
    return --b->locks > 0 ? TRUE : FALSE;
}

HGLOBAL GlobalFree(HGLOBAL hMem) {
    if (!hMem) return nullptr;
    if (!Forget(Kind::Global, hMem)) return hMem;
    std::free(hMem);
    return nullptr;
}

SIZE_T GlobalSize(HGLOBAL hMem) {
    std::lock_guard lock(Books().mu);
    Block* b = hMem ? Find(Kind::Global, hMem) : nullptr;
    return b ? b->size : 0;
}
