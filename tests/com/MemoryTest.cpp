// Task memory, BSTRs, global memory and clipboard formats: the platform's layouts, and
// accounting that catches leaks and double frees without crashing.
#include <cstring>

#include "ComTestSupport.h"

namespace velqor::test {
namespace {

using MemoryTest = ComAccountedTest;

TEST_F(MemoryTest, BstrCarriesItsByteLengthBeforeTheTextAndAZeroAfterIt) {
    const OLECHAR text[] = {u'a', 0, u'\u00e9', u'z'};  // embedded zero
    BSTR s = SysAllocStringLen(text, 4);
    ASSERT_NE(s, nullptr);
    uint32_t prefix;
    std::memcpy(&prefix, reinterpret_cast<char*>(s) - 4, 4);
    EXPECT_EQ(prefix, 8u);
    EXPECT_EQ(SysStringLen(s), 4u);
    EXPECT_EQ(SysStringByteLen(s), 8u);
    EXPECT_EQ(s[1], 0);
    EXPECT_EQ(s[3], u'z');
    EXPECT_EQ(s[4], 0) << "terminating zero";
    SysFreeString(s);

    BSTR b = SysAllocStringByteLen("abc", 3);  // odd byte length
    EXPECT_EQ(SysStringByteLen(b), 3u);
    EXPECT_EQ(SysStringLen(b), 1u);
    SysFreeString(b);

    BSTR z = SysAllocString(u"");
    ASSERT_NE(z, nullptr) << "an empty BSTR is not a null BSTR";
    EXPECT_EQ(SysStringLen(z), 0u);
    SysFreeString(z);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    SysFreeString(nullptr);
}

TEST_F(MemoryTest, AccountingCatchesLeaksDoubleFreesAndMismatchedFrees) {
    auto before = com::GetAllocationStats();
    void* p = CoTaskMemAlloc(16);
    BSTR s = SysAllocString(u"x");
    auto during = com::GetAllocationStats();
    EXPECT_EQ(during.LiveTaskBlocks - before.LiveTaskBlocks, 1);
    EXPECT_EQ(during.LiveStrings - before.LiveStrings, 1);

    CoTaskMemFree(s);  // a BSTR is not task memory: refused and counted
    SysFreeString(s);  // the right call frees it
    SysFreeString(s);  // second free: counted, not performed
    CoTaskMemFree(p);
    CoTaskMemFree(p);
    int local = 0;
    CoTaskMemFree(&local);  // never allocated
    auto after = com::GetAllocationStats();
    EXPECT_EQ(after.BadFrees - before.BadFrees, 4u);
    EXPECT_EQ(after.Live(), before.Live());
    EXPECT_EQ(after.TaskFrees - before.TaskFrees, 1u);
    EXPECT_EQ(after.StringFrees - before.StringFrees, 1u);
    Rebase();

    void* leak = CoTaskMemAlloc(4);
    EXPECT_EQ(com::GetAllocationStats().Live() - after.Live(), 1) << "the leak is visible";
    CoTaskMemFree(leak);
}

TEST_F(MemoryTest, TaskMemoryReallocKeepsContentsAndMovesTheBooks) {
    auto* p = static_cast<char*>(CoTaskMemAlloc(4));
    std::memcpy(p, "abcd", 4);
    p = static_cast<char*>(CoTaskMemRealloc(p, 4000));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::memcmp(p, "abcd", 4), 0);
    CoTaskMemFree(p);
    EXPECT_NE(CoTaskMemAlloc(0), nullptr) << "zero bytes still give a block to free";
    Rebase();
}

TEST_F(MemoryTest, GlobalMemoryLocksSizesAndFreesOnce) {
    HGLOBAL h = GlobalAlloc(GHND, 40);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalSize(h), 40u);
    auto* p = static_cast<unsigned char*>(GlobalLock(h));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[39], 0) << "GMEM_ZEROINIT";
    EXPECT_FALSE(GlobalUnlock(h)) << "last unlock";
    EXPECT_EQ(GlobalFree(h), nullptr);
    EXPECT_EQ(GlobalFree(h), h) << "a second free fails";
    EXPECT_EQ(GlobalLock(h), nullptr);
    Rebase();

    STGMEDIUM medium{};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = GlobalAlloc(GMEM_MOVEABLE, 8);
    ReleaseStgMedium(&medium);
    EXPECT_EQ(medium.hGlobal, nullptr);
}

TEST(ClipboardFormats, SameNameSameNumberFromC000) {
    UINT data = RegisterClipboardFormatA("OPCSTMFORMATDATA");
    UINT time = RegisterClipboardFormatW(u"OPCSTMFORMATDATATIME");
    EXPECT_GE(data, 0xC000u);
    EXPECT_GE(time, 0xC000u);
    EXPECT_NE(data, time);
    EXPECT_EQ(RegisterClipboardFormatW(u"OPCSTMFORMATDATA"), data);
    EXPECT_EQ(RegisterClipboardFormatA("opcstmformatdata"), data) << "names ignore letter case";
    EXPECT_EQ(RegisterClipboardFormatA(""), 0u);
}

}  // namespace
}  // namespace velqor::test
