// Helpers shared by the SOAP tests: a pinned time zone and the captured traffic folder.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

namespace velqor::test {

// Sets TZ for the lifetime of the object, restoring the previous value afterwards.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) {
            had_ = true;
            old_ = old;
        }
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (had_) setenv("TZ", old_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    bool had_ = false;
    std::string old_;
};

inline std::string CapturesDir() { return std::string(VELQOR_TESTDATA_DIR) + "/xmlda-captures"; }

}  // namespace velqor::test
