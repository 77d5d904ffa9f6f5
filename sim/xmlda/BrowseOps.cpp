// Browse and GetProperties.
#include <cctype>
#include <charconv>
#include <functional>

#include "xmlda/Operations.h"

namespace velqor::xmldasim {
namespace {

// Element-name filters: '*' any run, '?' one character, '#' one digit, "[set]" / "[!set]" with
// ranges; case is ignored. Linear-time matching with one star to back up to.
char lowerChar(char ch) { return static_cast<char>(std::tolower(static_cast<unsigned char>(ch))); }

// Length of the single-character token at pat[p] and whether it matches ch.
std::size_t token(std::string_view pat, std::size_t p, char ch, bool* match) {
    char t = pat[p];
    if (t == '?') {
        *match = true;
        return 1;
    }
    if (t == '#') {
        *match = std::isdigit(static_cast<unsigned char>(ch)) != 0;
        return 1;
    }
    if (t == '[') {
        auto close = pat.find(']', p + 1);
        std::string_view set = pat.substr(p + 1, close - p - 1);
        bool negate = !set.empty() && set.front() == '!';
        if (negate) set.remove_prefix(1);
        char c = lowerChar(ch);
        bool in = false;
        for (std::size_t i = 0; i < set.size(); ++i) {
            if (i + 2 < set.size() && set[i + 1] == '-') {
                if (c >= lowerChar(set[i]) && c <= lowerChar(set[i + 2])) in = true;
                i += 2;
            } else if (c == lowerChar(set[i])) {
                in = true;
            }
        }
        *match = in != negate;
        return close - p + 1;
    }
    *match = lowerChar(t) == lowerChar(ch);
    return 1;
}

void checkFilter(std::string_view pat) {
    for (std::size_t p = pat.find('['); p != std::string_view::npos; p = pat.find('[', p + 1)) {
        auto close = pat.find(']', p + 1);
        if (close == std::string_view::npos)
            throw SoapFault{true, "E_INVALIDFILTER", "Unclosed '[' in a filter."};
        p = close;
    }
}

bool wildcardMatch(std::string_view pat, std::string_view s) {
    std::size_t p = 0, i = 0, starP = std::string_view::npos, starS = 0;
    while (i < s.size()) {
        if (p < pat.size() && pat[p] == '*') {
            starP = p++;
            starS = i;
            continue;
        }
        bool match = false;
        std::size_t len = p < pat.size() ? token(pat, p, s[i], &match) : 0;
        if (match) {
            p += len;
            ++i;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            i = ++starS;
        } else {
            return false;
        }
    }
    while (p < pat.size() && pat[p] == '*') ++p;
    return p == pat.size();
}

std::string stripPrefix(const std::string& q) {
    auto colon = q.find(':');
    return colon == std::string::npos ? q : q.substr(colon + 1);
}

bool isKnownProperty(const std::string& name) {
    for (const auto& p : propertyNames())
        if (p == name) return true;
    return false;
}

// Whether an item has a property at all (listed under ReturnAllProperties).
bool applies(const AddressSpace& space, int node, const std::string& name) {
    if (name == "dataType" || name == "quality" || name == "value" || name == "timestamp")
        return true;
    return space.property(node, name, nowMs()).has_value() || name == "accessRights" ||
           name == "scanRate" || name == "euType";
}

// Names some servers give standard properties; id set: written as the ItemName's last segment.
// description set: written instead of the usual description.
struct UnusualName {
    const char* standard;
    const char* name;
    const char* id;
    const char* description;
};
const UnusualName* unusualName(const std::string& standard) {
    static const UnusualName names[] = {{"euType", "EUType", nullptr, nullptr},
                                        {"highEU", "High EU", "102", nullptr},
                                        {"lowEU", "Low EU", "103", nullptr},
                                        {"engineeringUnits", "Units", nullptr, "engineeringUnits"}};
    for (const auto& n : names)
        if (standard == n.standard) return &n;
    return nullptr;
}

// Writes one ItemProperty record; returns its result ID ("" on success).
std::string writeProperty(Call& c, ReplyNode parent, int node, const std::string& name,
                          bool withValue) {
    const AddressSpace& space = c.st.space;
    const ItemDef& d = space.node(node).item;
    ReplyNode p = c.w.element(parent, "Properties");
    const bool unusual = c.st.switches && c.st.switches->unusualPropertyNames;
    const UnusualName* odd = unusual ? unusualName(name) : nullptr;
    c.w.attr(p, "Name", odd ? std::string(odd->name) : c.w.opcQName(name));
    if (odd && odd->id) c.w.attr(p, "ItemName", space.node(node).id + "/" + odd->id);
    std::string resultId;
    if (!isKnownProperty(name))
        resultId = "E_INVALIDPID";
    else if (d.access == Access::Write &&
             (name == "value" || name == "quality" || name == "timestamp"))
        resultId = "E_WRITEONLY";
    else if (!applies(space, node, name))
        resultId = "E_INVALIDPID";
    if (!resultId.empty()) {
        c.w.attr(p, "ResultID", resultId);
        return resultId;
    }
    c.w.attr(p, "Description",
             odd && odd->description ? odd->description : propertyDescription(name));
    if (!withValue) return {};
    const TimePoint now = nowMs();
    if (odd && name == "euType") {  // the code as a number
        const auto code = std::int64_t(d.euType == EuType::Analog       ? 1
                                       : d.euType == EuType::Enumerated ? 2
                                                                        : 0);
        c.w.value(p, "Value", Value{{Kind::Int, false}, {code}});
    } else if (name == "dataType") {
        const std::string t = isXsdType(d.type) ? "xsd:" + typeLocalName(d.type)
                                                : c.w.opcQName(typeLocalName(d.type));
        ReplyNode v = c.w.element(p, "Value", &t);
        c.w.xsiType(v, "xsd:QName");
    } else if (name == "quality") {
        Sample s = space.sample(node, now);
        ReplyNode v = c.w.element(p, "Value");
        c.w.xsiType(v, c.w.opcQName("OPCQuality"));
        c.w.attr(v, "QualityField", s.quality.quality);
        if (s.quality.limit != "none") c.w.attr(v, "LimitField", s.quality.limit);
    } else if (auto v = space.property(node, name, now)) {
        c.w.value(p, "Value", *v);
    }
    return {};
}

struct PropertyRequest {
    bool all = false;
    bool values = false;
    std::vector<std::string> names;
    bool wanted() const { return all || !names.empty(); }
};

PropertyRequest readPropertyRequest(const xmlNode* op) {
    PropertyRequest pr;
    pr.all = boolAttr(op, "ReturnAllProperties", false);
    pr.values = boolAttr(op, "ReturnPropertyValues", false);
    for (const xmlNode* n : children(op, "PropertyNames")) {
        std::string name = stripPrefix(text(n));
        if (!name.empty()) pr.names.push_back(name);
    }
    return pr;
}

std::vector<std::string> propertyList(const AddressSpace& space, int node,
                                      const PropertyRequest& pr) {
    if (!pr.all) return pr.names;
    std::vector<std::string> out;
    for (const auto& n : propertyNames())
        if (applies(space, node, n)) out.push_back(n);
    return out;
}

// Continuation points carry the start tag, the offset and a digest of what was browsed, so a
// point from another start of the service, or for another browse, is refused.
std::string continuationPoint(const std::string& tag, std::size_t offset, std::size_t digest) {
    return tag + "." + std::to_string(offset) + "." + std::to_string(digest);
}
std::size_t parseContinuation(const std::string& cp, const std::string& tag, std::size_t digest) {
    auto bad =
        SoapFault{true, "E_INVALIDCONTINUATIONPOINT", "The continuation point is not valid."};
    auto dot1 = cp.find('.');
    auto dot2 = cp.find('.', dot1 == std::string::npos ? 0 : dot1 + 1);
    if (dot1 == std::string::npos || dot2 == std::string::npos || cp.substr(0, dot1) != tag)
        throw bad;
    std::size_t offset = 0;
    auto [p, ec] = std::from_chars(cp.data() + dot1 + 1, cp.data() + dot2, offset);
    if (ec != std::errc() || p != cp.data() + dot2) throw bad;
    if (cp.substr(dot2 + 1) != std::to_string(digest)) throw bad;
    return offset;
}

}  // namespace

void opBrowse(Call& c) {
    const xmlNode* op = c.req.op;
    const AddressSpace& space = c.st.space;
    const std::string itemPath = attrOr(op, "ItemPath");
    const std::string itemName = attrOr(op, "ItemName");
    const std::string filter = attrOr(op, "BrowseFilter", "all");
    const std::string nameFilter = attrOr(op, "ElementNameFilter");
    const std::string vendorFilter = attrOr(op, "VendorFilter");
    const auto maxElements = intAttr(op, "MaxElementsReturned");
    const std::string cp = attrOr(op, "ContinuationPoint");
    const PropertyRequest pr = readPropertyRequest(op);
    if (filter != "all" && filter != "branch" && filter != "item")
        throw SoapFault{true, "E_INVALIDFILTER", "BrowseFilter must be all, branch or item."};

    // Where to browse: the root, or the branch named by path and name.
    int start = space.root();
    if (!itemName.empty() || !itemPath.empty()) {
        std::string id = itemName;
        if (!itemPath.empty()) {
            int branch = space.find(itemPath);
            if (branch < 0 || space.node(branch).isItem)
                throw SoapFault{true, "E_UNKNOWNITEMPATH", resultText("E_UNKNOWNITEMPATH")};
            id = itemName.empty() ? space.node(branch).id : space.node(branch).id + "/" + itemName;
        }
        start = space.find(id);
        if (start < 0) throw SoapFault{true, "E_UNKNOWNITEMNAME", resultText("E_UNKNOWNITEMNAME")};
    }

    checkFilter(nameFilter);
    checkFilter(vendorFilter);
    std::vector<int> matches;
    for (int ch : space.node(start).children) {
        const Node& n = space.node(ch);
        if (filter == "branch" && n.isItem) continue;
        if (filter == "item" && !n.isItem) continue;
        if (!nameFilter.empty() && !wildcardMatch(nameFilter, n.name)) continue;
        if (!vendorFilter.empty() && n.isItem &&
            !wildcardMatch(vendorFilter, typeLocalName(n.item.type)))
            continue;
        matches.push_back(ch);
    }

    const std::size_t digest = std::hash<std::string>{}(space.node(start).id + '\n' + filter +
                                                        '\n' + nameFilter + '\n' + vendorFilter);
    std::size_t offset = cp.empty() ? 0 : parseContinuation(cp, c.st.tag, digest);
    if (offset > matches.size())
        throw SoapFault{true, "E_INVALIDCONTINUATIONPOINT",
                        resultText("E_INVALIDCONTINUATIONPOINT")};
    if (!cp.empty() && c.st.switches && c.st.switches->faultContinuation)
        throw SoapFault{true, "E_INVALIDCONTINUATIONPOINT",
                        resultText("E_INVALIDCONTINUATIONPOINT")};
    std::size_t end = matches.size();
    if (maxElements && *maxElements > 0)
        end = std::min(end, offset + static_cast<std::size_t>(*maxElements));
    if (c.st.switches && c.st.switches->browsePage > 0)
        end = std::min(end, offset + static_cast<std::size_t>(c.st.switches->browsePage));

    ReplyNode r = c.w.operation("BrowseResponse");
    replyBase(c, r, "BrowseResult", attrOr(op, "ClientRequestHandle"), attrOr(op, "LocaleID"));
    ErrorList errors;
    for (std::size_t i = offset; i < end; ++i) {
        const Node& n = space.node(matches[i]);
        ReplyNode e = c.w.element(r, "Elements");
        c.w.attr(e, "Name", n.name);
        c.w.attr(e, "ItemPath", "");
        c.w.attr(e, "ItemName", n.id);
        c.w.attr(e, "IsItem", n.isItem ? "true" : "false");
        c.w.attr(e, "HasChildren", n.children.empty() ? "false" : "true");
        if (n.isItem && pr.wanted())
            for (const auto& name : propertyList(space, matches[i], pr))
                errors.use(writeProperty(c, e, matches[i], name, pr.values));
    }
    errors.write(c.w, r, boolAttr(op, "ReturnErrorText", false));
    if (end < matches.size()) {
        c.w.attr(r, "ContinuationPoint", continuationPoint(c.st.tag, end, digest));
        c.w.attr(r, "MoreElements", "true");
    }
}

void opGetProperties(Call& c) {
    const xmlNode* op = c.req.op;
    const AddressSpace& space = c.st.space;
    const std::string defaultPath = attrOr(op, "ItemPath");
    const PropertyRequest pr = readPropertyRequest(op);
    const bool withText = boolAttr(op, "ReturnErrorText", false);

    ReplyNode r = c.w.operation("GetPropertiesResponse");
    replyBase(c, r, "GetPropertiesResult", attrOr(op, "ClientRequestHandle"),
              attrOr(op, "LocaleID"));
    ErrorList errors;
    for (const xmlNode* id : children(op, "ItemIDs")) {
        const std::string path = attrOr(id, "ItemPath", defaultPath);
        const std::string name = attrOr(id, "ItemName");
        ReplyNode list = c.w.element(r, "PropertyLists");
        c.w.attr(list, "ItemPath", path);
        c.w.attr(list, "ItemName", name);
        std::string resultId;
        int node = resolveItem(space, path, name, &resultId);
        if (node < 0) {
            c.w.attr(list, "ResultID", resultId);
            errors.use(resultId);
            continue;
        }
        for (const auto& pname : propertyList(space, node, pr))
            errors.use(writeProperty(c, list, node, pname, pr.values));
    }
    errors.write(c.w, r, withText);
}

}  // namespace velqor::xmldasim
