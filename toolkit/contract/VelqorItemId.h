// Whether an item ID (or access path) can be sent to a server at all. Both transports carry
// it as text that cannot hold everything a std::string can: COM as a NUL-terminated wide
// string, XML-DA in an XML attribute, which has no way to write most control characters or
// bytes that are not UTF-8. Such an ID would arrive cut short (and name another item) or
// break the whole request, so the component refuses it for that item alone.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velqor {

// The longest item ID or access path sent, in bytes; real ones are far shorter.
inline constexpr std::size_t kMaxItemIdBytes = 4096;

// Why text cannot be sent ("it holds the control character U+001B", "it is not valid UTF-8",
// ...), or "" when it can.
std::string ItemIdProblem(std::string_view text);

}  // namespace velqor
