#include "soap/VelqorSOAPRemotable.h"

#include <map>
#include <mutex>

#include "soap/VelqorSOAPEncoding.h"

namespace velqor {

namespace {

struct Registry {
    std::mutex Lock;
    std::map<std::string, const RecordClass*, std::less<>> Classes;
};

Registry& TheRegistry() {
    static Registry r;
    return r;
}

}  // namespace

int EnumTypeInfo::IndexOf(std::string_view name) const {
    for (size_t i = 0; i < Values.size(); ++i)
        if (SameTextNoCase(Values[i], name)) return int(i);
    return -1;
}

RecordClass::RecordClass(std::string_view name, const RecordClass* base,
                         std::span<const FieldInfo> own, std::unique_ptr<TRemotable> (*create)())
    : name_(name), base_(base), create_(create) {
    if (base) fields_ = base->Fields();
    for (const auto& f : own) fields_.push_back(&f);
    RegisterRecordClass(*this);
}

const FieldInfo* RecordClass::Field(std::string_view name) const {
    for (const FieldInfo* f : fields_)
        if (f->Name == name) return f;
    return nullptr;
}

const RecordClass& TRemotable::StaticClass() {
    static const RecordClass cls(ClassName, nullptr, {},
                                 []() { return std::make_unique<TRemotable>(); });
    return cls;
}

void RegisterRecordClass(const RecordClass& cls) {
    auto& r = TheRegistry();
    std::lock_guard<std::mutex> g(r.Lock);
    r.Classes.emplace(std::string(cls.Name()), &cls);
}

const RecordClass* FindRecordClass(std::string_view name) {
    auto& r = TheRegistry();
    std::lock_guard<std::mutex> g(r.Lock);
    auto it = r.Classes.find(name);
    return it == r.Classes.end() ? nullptr : it->second;
}

namespace detail {

EnumTypeInfo MakeEnumInfo(std::string_view name, std::string_view valueList) {
    EnumTypeInfo info;
    info.Name = name;
    while (!valueList.empty()) {
        size_t comma = valueList.find(',');
        std::string_view v = TrimBlanks(valueList.substr(0, comma));
        if (!v.empty()) info.Values.emplace_back(v);
        if (comma == std::string_view::npos) break;
        valueList.remove_prefix(comma + 1);
    }
    return info;
}

}  // namespace detail

}  // namespace velqor
