#include "TextPlatform.h"
#include "com/runtime/ComText.h"

namespace tagscope::cli {

std::vector<std::string> Utf8ArgumentsOf(int argc, const char16_t* const* argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(velqor::com::Utf16ToUtf8(argv[i]));
    return args;
}

size_t CompleteUtf8Length(std::string_view text) {
    // A character is at most four bytes: only the last three can belong to an unfinished one.
    const size_t n = text.size();
    for (size_t back = 1; back <= 3 && back <= n; ++back) {
        const auto b = static_cast<unsigned char>(text[n - back]);
        if ((b & 0xC0) == 0x80) continue;  // a continuation byte: look further back
        const size_t need = b >= 0xF5 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 1;
        return need > back ? n - back : n;
    }
    return n;
}

}  // namespace tagscope::cli
