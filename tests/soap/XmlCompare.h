// Comparing XML documents as trees rather than as bytes: element names by namespace URI and
// local name, attributes as a set (namespace declarations and prefixes ignored), children in
// order, whitespace-only text between elements ignored.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace velqor::test {

// Decides about one attribute before comparing: return false to leave it out; value may be
// rewritten. Element and attribute names are local names.
using AttrFilter =
    std::function<bool(std::string_view element, std::string_view attr, std::string& value)>;

// "" when the documents are alike, else a description of the first difference.
std::string XmlDiff(std::string_view expected, std::string_view actual,
                    const AttrFilter& filter = {});

// Reads a file whole; "" and false when it cannot be read.
bool ReadFileText(const std::string& path, std::string& out);

}  // namespace velqor::test
