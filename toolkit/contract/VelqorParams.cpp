#include "contract/VelqorParams.h"

#include <algorithm>
#include <cctype>

namespace velqor {

namespace {

std::string_view Trim(std::string_view t) {
    while (!t.empty() && static_cast<unsigned char>(t.front()) <= ' ') t.remove_prefix(1);
    while (!t.empty() && static_cast<unsigned char>(t.back()) <= ' ') t.remove_suffix(1);
    return t;
}

bool SameNoCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

bool IsOff(std::string_view v) {
    return SameNoCase(v, "off") || SameNoCase(v, "no") || SameNoCase(v, "false") || v == "0";
}

bool IsOn(std::string_view v) {
    return SameNoCase(v, "on") || SameNoCase(v, "yes") || SameNoCase(v, "true") || v == "1";
}

}  // namespace

std::string CallParam(const std::vector<std::string>& lines, std::string_view name) {
    for (const auto& line : lines) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        if (SameNoCase(Trim(std::string_view(line).substr(0, eq)), name))
            return std::string(Trim(std::string_view(line).substr(eq + 1)));
    }
    return {};
}

bool CompressionWanted(const std::vector<std::string>& lines) {
    return !IsOff(CallParam(lines, kParamCompress));
}

bool BadCertificateAccepted(const std::vector<std::string>& lines) {
    return IsOn(CallParam(lines, kParamAcceptBadCert));
}

std::string BadCertificateWarning(std::string_view url) {
    const std::string_view u = Trim(url);
    if (!SameNoCase(u.substr(0, std::min<size_t>(u.size(), 8)), "https://")) return {};
    return "warning: the certificate of " + std::string(u) +
           " is accepted even when it is out of date or names another host; anyone in the "
           "network path could read and change this traffic";
}

}  // namespace velqor
