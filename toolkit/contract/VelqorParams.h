// The server component's Params lines ("name=value") that configure a transport, and the keys
// that programs set: the XML-DA poster's address, credentials, certificates and limits.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velqor {

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
// "on" (or "yes", "true", "1") for a server whose HTTPS certificate is to be accepted although
// it is out of date or names another host (THTTPPostSettings::AcceptBadCertificate). Off by
// default; programs warn on every connect while it is on.
inline constexpr std::string_view kParamAcceptBadCert = "xml-accept-bad-cert";

// Value of a "name=value" line looked up by name without regard to case, trimmed of blanks;
// "" when the name is absent.
std::string CallParam(const std::vector<std::string>& lines, std::string_view name);

// Whether the Params lines leave compression on (the default).
bool CompressionWanted(const std::vector<std::string>& lines);
// Whether the Params lines accept a bad certificate (off by default).
bool BadCertificateAccepted(const std::vector<std::string>& lines);
// The warning a program gives on each connect to url while a bad certificate is accepted for
// it; "" when url is not an https address.
std::string BadCertificateWarning(std::string_view url);

}  // namespace velqor
