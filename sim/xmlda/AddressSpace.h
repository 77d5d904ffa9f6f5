// The simulated plant: a tree of branches and items, values that change on a clock, writable and
// write-only items, engineering units and the item properties of OPC XML-DA 1.0.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "xmlda/Values.h"

namespace velqor::xmldasim {

enum class Access { Read, Write, ReadWrite };

// How an item's value comes about.
enum class Source {
    Constant,  // fixed at start, read-only
    Clock,     // recomputed from the clock every `periodMs`
    Stored,    // holds the last written value
};

enum class EuType { None, Analog, Enumerated };

struct Quality {
    std::string quality = "good";  // qualityBits name
    std::string limit = "none";    // limitBits name
};

struct ItemDef {
    DataType type;
    Access access = Access::Read;
    Source source = Source::Constant;
    int periodMs = 0;  // Clock items
    int seed = 0;      // varies generated values between items of one kind
    bool nil = false;  // Clock items: no value at all (written xsi:nil)
    EuType euType = EuType::None;
    double lowEU = 0, highEU = 0;
    std::vector<std::string> euInfo;  // enumerated: the state texts
    std::string units;
    std::string description;
    Quality quality;
    std::size_t slot = 0;  // index of the stored value (Stored items)
};

struct Node {
    std::string name;  // last segment
    std::string id;    // full item ID, segments joined by '/'; "" for the root
    bool isItem = false;
    int parent = -1;
    std::vector<int> children;
    ItemDef item;
};

struct Sample {
    Value value;
    TimePoint timestamp;
    Quality quality;
};

// Names of the properties the service knows, in the order it lists them.
const std::vector<std::string>& propertyNames();
const char* propertyDescription(std::string_view name);

class AddressSpace {
  public:
    // loadItems: size of the flat load-test branch "Load"; its values change every
    // loadPeriodMs (at least 1). Its items are ints, or with loadMixed of the shapes a plant
    // mixes: of every 100 items, 2 arrays of doubles and 3 arrays of strings, 2 without a
    // value (nil), 10 date-times and the rest ints.
    AddressSpace(TimePoint epoch, int clockPeriodMs, int loadItems, int loadPeriodMs = 1000,
                 bool loadMixed = false);

    const Node& node(int i) const { return nodes_[static_cast<std::size_t>(i)]; }
    int root() const { return 0; }
    // -1 when unknown. Accepts trailing '/' on branch IDs.
    int find(std::string_view id) const;

    // Current value of a readable item.
    Sample sample(int item, TimePoint now) const;
    // A read honouring MaxAge: the value the service last read from its "device" when that is at
    // most maxAgeMs old, else a fresh one (which then becomes the cached value).
    Sample read(int item, TimePoint now, long long maxAgeMs);
    // Stores a value already converted to the item's type. Returns "" or a result ID.
    std::string write(int item, const Value& v, TimePoint now);

    // One property value, or nullopt for a name the service does not know.
    std::optional<Value> property(int item, std::string_view name, TimePoint now) const;
    std::string accessRightsText(int item) const;

    std::size_t size() const { return nodes_.size(); }

  private:
    int addBranch(int parent, const std::string& name);
    int addItem(int parent, const std::string& name, ItemDef def,
                std::optional<Value> initial = {});
    Value generate(const ItemDef& d, long long tick, TimePoint at) const;

    std::vector<Node> nodes_;
    std::unordered_map<std::string, int> byId_;
    TimePoint epoch_;
    int clockPeriodMs_;

    mutable std::mutex storeMutex_;  // guards stored_
    std::vector<std::pair<Value, TimePoint>> stored_;

    std::mutex cacheMutex_;                                        // guards cache_
    std::unordered_map<int, std::pair<Sample, TimePoint>> cache_;  // sample, when it was read
};

}  // namespace velqor::xmldasim
