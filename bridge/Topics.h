// MQTT topic names of a bridge: the names of servers, groups and items put into a topic
// template, each escaped so that it cannot break the topic apart or act as a wildcard, and read
// back the same way.
#pragma once

#include <string>
#include <string_view>

namespace tagscope::bridge {

// A name as one topic level (or, with keepSlashes, as a run of levels): "+", "#", NUL, "%" and
// "/" (unless kept) become "%2B", "%23", "%00", "%25", "%2F". Nothing else changes, so names stay
// readable; UnescapeTopicName gives the name back.
std::string EscapeTopicName(std::string_view name, bool keepSlashes);
// The name of an escaped level; a "%" not followed by two hex digits stays as it is.
std::string UnescapeTopicName(std::string_view level);

// A topic template with the placeholders <server>, <group> and <item ID>; the literal parts
// are used as given.
class TopicTemplate {
  public:
    static constexpr const char* kDefault = "tagscope/<server>/<group>/<item ID>";
    // Raises std::invalid_argument when the template has no <item ID>, a "+" or "#", or
    // parts that make topics MQTT refuses.
    explicit TopicTemplate(std::string text, bool keepSlashes = false);

    // The item's topic, names escaped.
    std::string Topic(std::string_view server, std::string_view group,
                      std::string_view itemID) const;
    // The levels before the first placeholder ("tagscope" for the default): the bridge's own
    // topics ($state, $dropped) go below it.
    const std::string& Prefix() const { return prefix_; }

  private:
    std::string text_;
    std::string prefix_;
    bool keepSlashes_;
};

}  // namespace tagscope::bridge
