#include "Topics.h"

#include <stdexcept>

namespace tagscope::bridge {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

constexpr std::string_view kServer = "<server>", kGroup = "<group>", kItem = "<item ID>";

}  // namespace

std::string EscapeTopicName(std::string_view name, bool keepSlashes) {
    static const char* const hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        if (c == '+' || c == '#' || c == '\0' || c == '%' || (c == '/' && !keepSlashes)) {
            out += '%';
            out += hex[(unsigned char)c >> 4];
            out += hex[(unsigned char)c & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::string UnescapeTopicName(std::string_view level) {
    std::string out;
    out.reserve(level.size());
    for (size_t i = 0; i < level.size(); ++i) {
        if (level[i] == '%' && i + 2 < level.size() && HexDigit(level[i + 1]) >= 0 &&
            HexDigit(level[i + 2]) >= 0) {
            out += char(HexDigit(level[i + 1]) * 16 + HexDigit(level[i + 2]));
            i += 2;
        } else {
            out += level[i];
        }
    }
    return out;
}

TopicTemplate::TopicTemplate(std::string text, bool keepSlashes)
    : text_(std::move(text)), keepSlashes_(keepSlashes) {
    if (text_.find(kItem) == std::string::npos)
        throw std::invalid_argument("the topic template \"" + text_ + "\" has no <item ID>");
    if (text_.find_first_of("+#") != std::string::npos || text_.find('\0') != std::string::npos)
        throw std::invalid_argument("the topic template \"" + text_ +
                                    "\" holds \"+\" or \"#\", which are wildcards in MQTT");
    size_t first = text_.find('<');
    prefix_ = text_.substr(0, first);
    while (!prefix_.empty() && prefix_.back() == '/') prefix_.pop_back();
    if (prefix_.empty())
        throw std::invalid_argument("the topic template \"" + text_ +
                                    "\" must begin with a fixed level, such as \"tagscope/\"");
}

std::string TopicTemplate::Topic(std::string_view server, std::string_view group,
                                 std::string_view itemID) const {
    std::string out;
    out.reserve(text_.size() + server.size() + group.size() + itemID.size());
    for (size_t i = 0; i < text_.size();) {
        const std::string_view rest = std::string_view(text_).substr(i);
        if (rest.starts_with(kServer)) {
            out += EscapeTopicName(server, false);
            i += kServer.size();
        } else if (rest.starts_with(kGroup)) {
            out += EscapeTopicName(group, false);
            i += kGroup.size();
        } else if (rest.starts_with(kItem)) {
            out += EscapeTopicName(itemID, keepSlashes_);
            i += kItem.size();
        } else {
            out += text_[i++];
        }
    }
    return out;
}

}  // namespace tagscope::bridge
