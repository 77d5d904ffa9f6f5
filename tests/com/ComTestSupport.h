// Shared by the COM test programs: a fixture that runs each test in an initialised apartment
// and fails it when task memory, a BSTR or global memory is left allocated, or freed twice.
#pragma once

#include <gtest/gtest.h>

#include "com/runtime/ComPlatform.h"
#include "com/runtime/ComRuntimeControl.h"
#ifdef _WIN32
// Skips a case that needs what only the toolkit's own runtime offers (allocation accounting,
// classes and computers registered by the test, fault switches inside the server's process).
#define VELQOR_SKIP_ON_PLATFORM_COM(why) GTEST_SKIP() << "on the platform's COM: " why
inline constexpr bool kOnPlatformCom = true;
#include <functional>
namespace velqor::com {
// MessageBeep is the platform's own there: no hook sees it.
inline void SetBeepHook(std::function<void(UINT)>) {}
}  // namespace velqor::com
#else
#define VELQOR_SKIP_ON_PLATFORM_COM(why) (void)0
inline constexpr bool kOnPlatformCom = false;
#endif

namespace velqor::test {

#ifdef _WIN32
// On the platform's COM the test thread is a single-threaded apartment, as the toolkit's owning
// thread is: callbacks from servers reach it while its plain event loop runs.
class ComAccountedTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    }
    void TearDown() override { CoUninitialize(); }
    void Rebase() {}
};
#else
class ComAccountedTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        start_ = com::GetAllocationStats();
    }
    void TearDown() override {
        CoUninitialize();
        com::AllocationStats now = com::GetAllocationStats();
        EXPECT_EQ(now.Live(), start_.Live())
            << "task blocks " << now.LiveTaskBlocks - start_.LiveTaskBlocks << ", strings "
            << now.LiveStrings - start_.LiveStrings << ", global blocks "
            << now.LiveGlobals - start_.LiveGlobals << " left allocated";
        EXPECT_EQ(now.BadFrees, start_.BadFrees) << "a block was freed twice or never allocated";
    }
    // Marks what the test itself leaked or double-freed on purpose as expected.
    void Rebase() { start_ = com::GetAllocationStats(); }

  private:
    com::AllocationStats start_;
};
#endif

// Holds a VARIANT and clears it at the end of the scope.
struct ScopedVariant {
    VARIANT v;
    ScopedVariant() { VariantInit(&v); }
    ~ScopedVariant() { VariantClear(&v); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;
};

}  // namespace velqor::test
