// POSIX systems: arguments, the terminal and the environment carry the bytes the user's locale
// gives them, UTF-8 on any current system; they are taken and written as they are.
#include <cstdlib>

#include "TextPlatform.h"

namespace tagscope::cli {

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return {argv, argv + argc}; }

void UseUtf8Console() {}

std::optional<std::string> EnvironmentText(const std::string& name) {
    if (const char* value = std::getenv(name.c_str())) return value;
    return std::nullopt;
}

}  // namespace tagscope::cli
