// Helpers shared by the SOAP tests: a pinned time zone and the captured traffic folder.
#pragma once

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <filesystem>
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
        if (had_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

  private:
    bool had_ = false;
    std::string old_;
};

// Switches the C locale to German (decimal comma) for the lifetime of the object, compiling the
// locale into a scratch folder when the system has none installed. Active() tells whether it
// worked.
class ScopedCommaLocale {
  public:
    ScopedCommaLocale() {
        const char* old = std::setlocale(LC_ALL, nullptr);
        old_ = old ? old : "C";
        if (std::setlocale(LC_ALL, "de_DE.UTF-8")) {
            active_ = true;
            return;
        }
        std::string dir = (std::filesystem::temp_directory_path() / "velqor-soap-locale").string();
        std::string cmd = "localedef -i de_DE -f UTF-8 '" + dir + "/de_DE.UTF-8' >/dev/null 2>&1";
        // localedef reports warnings through its exit status; what counts is the result.
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        if (!std::filesystem::exists(dir + "/de_DE.UTF-8/LC_NUMERIC"))
            (void)std::system(cmd.c_str());
        setenv("LOCPATH", dir.c_str(), 1);
        active_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    }
    ~ScopedCommaLocale() { std::setlocale(LC_ALL, old_.c_str()); }
    ScopedCommaLocale(const ScopedCommaLocale&) = delete;
    ScopedCommaLocale& operator=(const ScopedCommaLocale&) = delete;
    bool Active() const { return active_; }

  private:
    std::string old_;
    bool active_ = false;
};

inline std::string CapturesDir() { return std::string(VELQOR_TESTDATA_DIR) + "/xmlda-captures"; }

}  // namespace velqor::test
