// The wildcard mask of flat browses, shared by every transport's browser.
#pragma once

#include <string_view>

namespace velqor {

// Wildcard match of a whole text: "*" any run of characters, "?" one character, "[set]" one
// character of a set or range ("[a-c]"), "[!set]" one character not in it; ASCII case is
// ignored, characters are UTF-8 code points. A "[" without a closing "]" is a plain character.
bool MatchesMask(std::string_view text, std::string_view mask);

}  // namespace velqor
