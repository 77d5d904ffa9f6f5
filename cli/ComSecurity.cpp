#include "ComSecurity.h"

#include <array>

namespace tagscope::cli {

namespace {
constexpr std::array<LevelName, 6> kAuthLevels{
    {{"none", 1}, {"connect", 2}, {"call", 3}, {"packet", 4}, {"integrity", 5}, {"privacy", 6}}};
constexpr std::array<LevelName, 4> kImpersonationLevels{
    {{"anonymous", 1}, {"identify", 2}, {"impersonate", 3}, {"delegate", 4}}};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }
}  // namespace

std::span<const LevelName> AuthLevels() { return kAuthLevels; }
std::span<const LevelName> ImpersonationLevels() { return kImpersonationLevels; }

std::optional<uint32_t> LevelOf(std::span<const LevelName> table, std::string_view name) {
    for (const LevelName& entry : table) {
        const std::string_view known = entry.name;
        if (known.size() != name.size()) continue;
        bool same = true;
        for (size_t i = 0; i < known.size() && same; ++i) same = Lower(name[i]) == known[i];
        if (same) return entry.level;
    }
    return std::nullopt;
}

std::string NameOfLevel(std::span<const LevelName> table, uint32_t level) {
    for (const LevelName& entry : table)
        if (entry.level == level) return entry.name;
    return {};
}

std::string LevelNamesText(std::span<const LevelName> table) {
    std::string text;
    for (const LevelName& entry : table)
        text += (text.empty() ? "" : ", ") + std::string(entry.name);
    return text;
}

}  // namespace tagscope::cli
