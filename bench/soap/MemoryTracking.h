// Peak-memory accounting for the SOAP benches: every C++ allocation and every libxml2
// allocation is counted while it lives. Link MemoryTracking.cpp into the bench (it replaces the
// global operator new and delete) and call TrackXmlMemory() before libxml2 is first used.
#pragma once

#include <atomic>

namespace velqor::bench {

// Bytes allocated now, and the most there were since the peak was last set.
extern std::atomic<long long> gLive, gPeak;

// Routes libxml2's allocations through the accounting.
void TrackXmlMemory();

}  // namespace velqor::bench
