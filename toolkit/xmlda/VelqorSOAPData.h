// The call settings of one XML-DA connection or poll thread, and the Params keys that fill them.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "contract/EventLoop.h"
#include "http/VelqorSOAPPoster.h"

namespace velqor {

// What one call needs besides the poster: where and how to post, the method namespace and the
// window told of a failed post. Copyable, so a snapshot for a poll thread copies it whole.
struct TVelqorCallSettings : THTTPPostSettings {
    std::string Namespace;              // namespace URI of the method elements
    velqor::NotifyWindow NotifyWindow;  // told of a failed post; none when empty
};

// The call settings with the persistent poster (owned), or none.
struct TVelqorSOAPData : TVelqorCallSettings {
    std::unique_ptr<THTTPPost> Poster;
};

// Keys of the server component's Params lines that configure the poster.
inline constexpr std::string_view kParamUser = "xml-user";
inline constexpr std::string_view kParamPassword = "xml-pass";
inline constexpr std::string_view kParamProxy = "xml-proxy";
inline constexpr std::string_view kParamPostBy = "xml-postby";
inline constexpr std::string_view kParamCAFile = "xml-cafile";
// Time limit of one whole exchange in milliseconds (THTTPPostSettings::TotalTimeout); absent,
// not a number or not above 0: the poster's default.
inline constexpr std::string_view kParamTimeout = "xml-timeout";
// "off" (or "no", "false", "0"): the poster asks for plain replies instead of offering gzip
// and deflate, which on loopback and fast networks costs more than it saves.
inline constexpr std::string_view kParamCompress = "xml-compress";

// Whether the Params lines leave compression on (the default).
bool CompressionWanted(const std::vector<std::string>& lines);

// Value of a "name=value" line looked up by name without regard to case, trimmed of blanks;
// "" when the name is absent.
std::string CallParam(const std::vector<std::string>& lines, std::string_view name);

}  // namespace velqor
