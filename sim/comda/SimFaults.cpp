#include "SimFaults.h"

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <thread>

#ifndef _WIN32
#include "com/runtime/ComRuntimeControl.h"
#endif

namespace velqor::sim {
namespace {

struct FaultStore {
    std::atomic<std::uint64_t> delayedCalls{0};
    std::mutex mu;
    std::shared_ptr<const SimFaults> current = std::make_shared<const SimFaults>();
};
FaultStore& Store() {
    static FaultStore store;
    return store;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

constexpr const char* kKnownWords =
    "slow=MS, property-error=ID, read-error=ID, write-error=ID, add-error=ID, refuse-browse=ID, "
    "item-id-error=ID, refuse-browse-to, sfalse, arrays=null, arrays=short, no-continuation, "
    "endless-browse, "
    "empty-properties, "
    "callbacks-after-unadvise, callbacks-after-remove, unknown-handle, bad-stream, "
    "complete-in-call, shutdown-after=MS, serverlist=break, serverlist=endless, load-items=N, "
    "load-period=MS";

[[noreturn]] void Refuse(std::string_view word, const char* why) {
    throw std::invalid_argument(std::string(kSimFaultsVariable) + ": " + why + " \"" +
                                std::string(word) + "\" (known: " + kKnownWords + ")");
}

// Sets the switch without an argument named key; false when there is none of that name.
bool SetFlag(std::string_view key, SimFaults& f) {
    static const std::pair<const char*, bool SimFaults::*> flags[] = {
        {"refuse-browse-to", &SimFaults::RefuseBrowseTo},
        {"sfalse", &SimFaults::SFalseWithErrors},
        {"no-continuation", &SimFaults::NoContinuation},
        {"endless-browse", &SimFaults::EndlessBrowse},
        {"empty-properties", &SimFaults::EmptyProperties},
        {"callbacks-after-unadvise", &SimFaults::CallbacksAfterUnadvise},
        {"callbacks-after-remove", &SimFaults::CallbacksAfterRemove},
        {"unknown-handle", &SimFaults::UnknownClientHandle},
        {"bad-stream", &SimFaults::BadStreamHeader},
        {"complete-in-call", &SimFaults::CompleteInCall},
    };
    for (const auto& [name, flag] : flags)
        if (key == name) {
            f.*flag = true;
            return true;
        }
    return false;
}

void ApplyWord(std::string_view word, SimFaults& f) {
    std::size_t eq = word.find('=');
    std::string_view key = Trim(word.substr(0, eq));
    std::string_view arg =
        eq == std::string_view::npos ? std::string_view{} : Trim(word.substr(eq + 1));
    bool hasArg = eq != std::string_view::npos;
    struct ItemSwitch {
        const char* key;
        std::set<std::string> SimFaults::*items;
    };
    static const ItemSwitch itemSwitches[] = {
        {"property-error", &SimFaults::PropertyErrorItems},
        {"read-error", &SimFaults::ReadErrorItems},
        {"write-error", &SimFaults::WriteErrorItems},
        {"add-error", &SimFaults::AddErrorItems},
        {"refuse-browse", &SimFaults::RefusedBrowsePositions},
        {"item-id-error", &SimFaults::ItemIDErrorPositions},
    };
    for (const auto& s : itemSwitches) {
        if (key != s.key) continue;
        if (arg.empty()) Refuse(word, "an item ID is missing in");
        (f.*s.items).insert(std::string(arg));
        return;
    }
    struct NumberSwitch {
        const char* key;
        int SimFaults::*value;
        int low, high;
        const char* need;
    };
    static const NumberSwitch numberSwitches[] = {
        {"slow", &SimFaults::SlowCallMs, 0, 60000, "a delay of 0..60000 ms is needed in"},
        {"shutdown-after", &SimFaults::ShutdownAfterMs, 0, 60000,
         "a delay of 0..60000 ms is needed in"},
        {"load-items", &SimFaults::LoadItems, 0, 100000, "a count of 0..100000 is needed in"},
        {"load-period", &SimFaults::LoadPeriodMs, 1, 60000, "a period of 1..60000 ms is needed in"},
    };
    for (const auto& s : numberSwitches) {
        if (key != s.key) continue;
        int n = -1;
        auto [end, ec] = std::from_chars(arg.data(), arg.data() + arg.size(), n);
        if (ec != std::errc{} || end != arg.data() + arg.size() || n < s.low || n > s.high)
            Refuse(word, s.need);
        f.*s.value = n;
        return;
    }
    if (key == "serverlist" && (arg == "break" || arg == "endless")) {
        f.ServerList = arg == "break" ? ServerListFault::BreakOff : ServerListFault::Endless;
    } else if (key == "arrays" && (arg == "null" || arg == "short")) {
        f.OutArrays = arg == "null" ? OutArrayFault::Null : OutArrayFault::Short;
    } else if (hasArg || !SetFlag(key, f)) {
        Refuse(word, "unknown switch");
    }
}

}  // namespace

std::shared_ptr<const SimFaults> CurrentSimFaults() {
    std::lock_guard lock(Store().mu);
    return Store().current;
}

void SetSimFaults(SimFaults faults) {
    auto next = std::make_shared<const SimFaults>(std::move(faults));
    std::lock_guard lock(Store().mu);
    Store().current = std::move(next);
}

void ClearSimFaults() { SetSimFaults({}); }

std::shared_ptr<const SimFaults> EnterSimCall() {
    auto faults = CurrentSimFaults();
    if (faults->SlowCallMs > 0) {
#ifdef _WIN32
        // A server of its own: the platform's COM bounds the client's wait.
        std::this_thread::sleep_for(std::chrono::milliseconds(faults->SlowCallMs));
#else
        // In the client's thread: it waits as for another process, and may give up.
        if (com::WaitAsServer(DWORD(faults->SlowCallMs)) == RPC_E_CALL_CANCELED) return nullptr;
#endif
        ++Store().delayedCalls;
    }
    return faults;
}

std::uint64_t SimDelayedCalls() { return Store().delayedCalls.load(); }

SimFaults ParseSimFaults(std::string_view text) {
    SimFaults f;
    while (!text.empty()) {
        std::size_t comma = text.find(',');
        std::string_view word = Trim(text.substr(0, comma));
        if (!word.empty()) ApplyWord(word, f);
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return f;
}

void ReportSentValues(const std::string& group, std::uint64_t values) {
    const char* file = std::getenv(kSimReportVariable);
    if (!file || !*file) return;
    static std::mutex mu;
    std::lock_guard lock(mu);
    if (std::FILE* f = std::fopen(file, "a")) {
        std::fprintf(f, "group %s sent %llu\n", group.c_str(),
                     static_cast<unsigned long long>(values));
        std::fclose(f);
    }
}

std::string ApplySimFaultsFromEnvironment() {
    const char* value = std::getenv(kSimFaultsVariable);
    if (!value || Trim(value).empty()) return {};
    try {
        SetSimFaults(ParseSimFaults(value));
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return {};
}

}  // namespace velqor::sim
