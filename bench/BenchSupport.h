// What the benchmark programs share: clocks, medians, their options, and the simulated plant's
// load items.
#pragma once

#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

namespace velqor::bench {

using Clock = std::chrono::steady_clock;

inline double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

inline double MsSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Median milliseconds of f over the given number of runs.
template <class F>
double MedianMs(int runs, F&& f) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        f();
        ms.push_back(MsSince(t0));
    }
    return Median(ms);
}

// The ID of the i-th item of the simulated plant's Load branch.
inline std::string LoadItemID(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "Load/Item%05d", i);
    return name;
}

// Wall and CPU seconds of one measured stretch.
struct Span {
    double wall = 0;
    double cpu = 0;
};

// Zeroes the counter the loop's handlers add to, then runs the loop for the given seconds.
template <class Loop, class CpuSeconds>
Span RunCounted(Loop& loop, uint64_t& counter, double seconds, CpuSeconds cpuSeconds) {
    counter = 0;
    const double cpu0 = cpuSeconds();
    const auto t0 = Clock::now();
    loop.RunFor(std::chrono::milliseconds(int(seconds * 1000)));
    return {std::chrono::duration<double>(Clock::now() - t0).count(), cpuSeconds() - cpu0};
}

// One command-line option: a flag (bool) or a name followed by its value.
struct Option {
    const char* name;
    std::variant<bool*, int*, double*, std::string*> target;
};

// Reads the named options from the command line; anything else is passed over.
inline void ReadOptions(int argc, char** argv, std::initializer_list<Option> options) {
    for (int i = 1; i < argc; ++i)
        for (const Option& o : options) {
            if (std::strcmp(argv[i], o.name) != 0) continue;
            if (auto* flag = std::get_if<bool*>(&o.target)) {
                **flag = true;
            } else if (i + 1 < argc) {
                const char* value = argv[++i];
                if (auto* n = std::get_if<int*>(&o.target)) **n = std::atoi(value);
                if (auto* d = std::get_if<double*>(&o.target)) **d = std::atof(value);
                if (auto* s = std::get_if<std::string*>(&o.target)) **s = value;
            }
            break;
        }
}

// CPU seconds of another process so far (user + system, all threads).
inline double ProcessCpu(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(f, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

}  // namespace velqor::bench
