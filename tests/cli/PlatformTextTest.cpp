// What the command line takes from the platform, in its platform-neutral parts: UTF-16
// arguments in UTF-8, console output cut only between characters, and the DCOM level names.
#include <gtest/gtest.h>

#include "ComSecurity.h"
#include "TextPlatform.h"

namespace tagscope::cli {
namespace {

TEST(CliPlatformText, Utf16ArgumentsBecomeUtf8) {
    struct Row {
        std::u16string wide;
        std::string utf8;
    } const rows[] = {
        {u"Writable/String=h\u00E9llo", "Writable/String=h\xC3\xA9llo"},
        {u"\u540D\u5B57/\u503C", "\xE5\x90\x8D\xE5\xAD\x97/\xE5\x80\xBC"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},  // a surrogate pair is one character
        {u"\xD83Dx", "\xEF\xBF\xBDx"},        // an unpaired surrogate cannot be kept
        {u"x\xDE00", "x\xEF\xBF\xBD"},
        {u"", ""},
    };
    std::vector<const char16_t*> argv;
    for (const Row& row : rows) argv.push_back(row.wide.c_str());
    const std::vector<std::string> args = Utf8ArgumentsOf(int(argv.size()), argv.data());
    ASSERT_EQ(args.size(), std::size(rows));
    for (size_t i = 0; i < args.size(); ++i) EXPECT_EQ(args[i], rows[i].utf8) << i;
}

TEST(CliPlatformText, ConsoleWritesStopOnlyBetweenCharacters) {
    struct Row {
        std::string text;
        size_t whole;
    } const rows[] = {
        {"", 0},
        {"plain\n", 6},
        {"h\xC3", 1},
        {"h\xC3\xA9", 3},
        {"\xE5\x90", 0},
        {"\xE5\x90\x8D", 3},
        {"a\xF0\x9F\x98", 1},
        {"a\xF0\x9F\x98\x80", 5},
        {"\xF0\x9F\x98\x80\xE5", 4},
        // Never part of a character: passed on at once to be shown as U+FFFD.
        {"a\x80", 2},
        {"a\xFF", 2},
        {"a\xC0", 2},
        {"a\xF8\x80\x80", 4},
    };
    for (const Row& row : rows) EXPECT_EQ(CompleteUtf8Length(row.text), row.whole) << row.text;
}

TEST(CliPlatformText, SecurityLevelNames) {
    struct Row {
        std::span<const LevelName> table;
        const char* name;
        std::optional<uint32_t> level;
    } const rows[] = {
        {AuthLevels(), "none", 1},
        {AuthLevels(), "CONNECT", 2},
        {AuthLevels(), "call", 3},
        {AuthLevels(), "Packet", 4},
        {AuthLevels(), "integrity", 5},
        {AuthLevels(), "privacy", 6},
        {AuthLevels(), "", {}},
        {AuthLevels(), "connec", {}},
        {AuthLevels(), "connects", {}},
        {AuthLevels(), "identify", {}},
        {ImpersonationLevels(), "anonymous", 1},
        {ImpersonationLevels(), "identify", 2},
        {ImpersonationLevels(), "Impersonate", 3},
        {ImpersonationLevels(), "delegate", 4},
        {ImpersonationLevels(), "none", {}},
    };
    for (const Row& row : rows) EXPECT_EQ(LevelOf(row.table, row.name), row.level) << row.name;
    // Callbacks from another computer need at least connect; identify is the safe default.
    EXPECT_EQ(NameOfLevel(AuthLevels(), ComSecurity{}.authLevel), "connect");
    EXPECT_EQ(NameOfLevel(ImpersonationLevels(), ComSecurity{}.impersonation), "identify");
}

}  // namespace
}  // namespace tagscope::cli
