#include "MemoryTracking.h"

#include <libxml/parser.h>
#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <new>

#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace velqor::bench {

std::atomic<long long> gLive{0}, gPeak{0};

namespace {

void Track(void* p, bool add) {
    if (!p) return;
    const long long n = (long long)malloc_usable_size(p);
    const long long now = add ? (gLive += n) : (gLive -= n);
    long long peak = gPeak.load();
    while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
    }
}

}  // namespace

void* TrackedMalloc(size_t n) {
    void* p = std::malloc(n);
    Track(p, true);
    return p;
}
void TrackedFree(void* p) {
    Track(p, false);
    std::free(p);
}

namespace {

void* TrackedRealloc(void* p, size_t n) {
    Track(p, false);
    void* q = std::realloc(p, n);
    Track(q ? q : p, true);
    return q;
}
char* TrackedStrdup(const char* s) {
    const size_t n = std::strlen(s) + 1;
    char* p = static_cast<char*>(TrackedMalloc(n));
    if (p) std::memcpy(p, s, n);
    return p;
}

}  // namespace

void TrackXmlMemory() { xmlMemSetup(TrackedFree, TrackedMalloc, TrackedRealloc, TrackedStrdup); }

}  // namespace velqor::bench

void* operator new(size_t n) {
    void* p = velqor::bench::TrackedMalloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    return p;
}
void operator delete(void* p) noexcept { velqor::bench::TrackedFree(p); }
void operator delete(void* p, size_t) noexcept { velqor::bench::TrackedFree(p); }
