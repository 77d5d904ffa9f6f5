// TRemotable: the base of every SOAP message record, and the field tables that describe a
// record to the SOAP writer and reader.
//
// A record is a plain struct deriving from TRemotable whose fields are listed once, right in
// the struct, with VELQOR_RECORD:
//
//   struct ItemIdentifier : TRemotable {
//       std::string ItemPath;
//       std::string ItemName;
//       VELQOR_RECORD(ItemIdentifier, TRemotable,
//           VELQOR_ATTR(ItemPath),
//           VELQOR_ATTR(ItemName))
//   };
//
// The field's C++ type gives its kind: std::string (wide string), int8..int32 and their
// unsigned forms (integer, range-checked), int64_t, float, double, bool, an enumeration declared
// with VELQOR_ENUM, EnumSet<E>, Variant, std::unique_ptr<Record> (an owned record),
// std::vector<std::unique_ptr<Record>> (array of records) and std::vector<std::string> (array of
// wide strings). Date-times and durations are doubles declared with VELQOR_DATETIME_* and
// VELQOR_DURATION_*; 8-bit strings and characters with VELQOR_ANSI_* and char. Records own
// what their fields hold.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "contract/Variant.h"
#include "runtime/NonCopyable.h"

namespace velqor {

class TRemotable;
class RecordClass;

enum class FieldKind {
    AnsiString,  // 8-bit string (UTF-8 here, like every string of the toolkit)
    WideString,
    Char,
    Integer,  // 8, 16 or 32 bits, signed or unsigned
    Int64,
    Float,  // single or double; see FloatType
    Boolean,
    Enumeration,
    Set,
    Variant,
    Record,
    RecordArray,
    StringArray,
    OtherArray,  // an array kind the SOAP layer does not handle (raises when met)
};

enum class FloatType { Single, Double, DateTime, Duration };
enum class IntType { I8, U8, I16, U16, I32, U32 };

// An enumeration type: its name and value names in ordinal order.
struct EnumTypeInfo {
    std::string_view Name;
    std::vector<std::string> Values;
    // Ordinal of a value name (ASCII case-insensitive), -1 when unknown.
    int IndexOf(std::string_view name) const;
};

// A set of enumeration members, one bit per ordinal.
template <class E>
struct EnumSet {
    uint32_t Bits = 0;
    bool Has(E e) const { return Bits >> unsigned(e) & 1u; }
    void Add(E e) { Bits |= 1u << unsigned(e); }
};

struct FieldInfo {
    std::string_view Name;
    FieldKind Kind = FieldKind::WideString;
    bool IsAttribute = false;
    // Records: the record class name; enumerations and sets: the enumeration's name; floats:
    // "Single", "Double", "TDateTime" or "TDuration"; arrays: the array's element type name.
    std::string_view TypeName;
    IntType Int = IntType::I32;
    FloatType Float = FloatType::Double;
    const EnumTypeInfo* Enum = nullptr;
    int64_t Min = 0, Max = 0;  // integer range

    // Storage of scalar kinds (std::string, char, the integer type, int64_t, float/double, bool,
    // Variant).
    void* (*Storage)(TRemotable&) = nullptr;
    // Enumerations and sets.
    int64_t (*GetOrdinal)(const TRemotable&) = nullptr;
    void (*SetOrdinal)(TRemotable&, int64_t) = nullptr;
    // Records.
    const RecordClass* (*RecordType)() = nullptr;
    TRemotable* (*GetRecord)(const TRemotable&) = nullptr;
    void (*SetRecord)(TRemotable&, std::unique_ptr<TRemotable>) = nullptr;
    // Arrays of records and strings.
    size_t (*Length)(const TRemotable&) = nullptr;
    void (*SetLength)(TRemotable&, size_t) = nullptr;
    TRemotable* (*GetItem)(const TRemotable&, size_t) = nullptr;
    void (*SetItem)(TRemotable&, size_t, std::unique_ptr<TRemotable>) = nullptr;
    std::string* (*StringItem)(TRemotable&, size_t) = nullptr;
};

// A record class: its name, its fields (base fields first) and how to make a new one.
class RecordClass {
  public:
    RecordClass(std::string_view name, const RecordClass* base, std::span<const FieldInfo> own,
                std::unique_ptr<TRemotable> (*create)());
    std::string_view Name() const { return name_; }
    const RecordClass* Base() const { return base_; }
    const std::vector<const FieldInfo*>& Fields() const { return fields_; }
    const FieldInfo* Field(std::string_view name) const;
    std::unique_ptr<TRemotable> Create() const { return create_(); }

  private:
    std::string_view name_;
    const RecordClass* base_;
    std::vector<const FieldInfo*> fields_;
    std::unique_ptr<TRemotable> (*create_)();
};

class TRemotable : private TNonCopyable {
  public:
    virtual ~TRemotable() = default;

    static constexpr std::string_view ClassName = "TRemotable";
    static const RecordClass& StaticClass();
    virtual const RecordClass& Class() const { return StaticClass(); }

    // The reader met a variant field whose value it could not decode (why: the type, the text
    // and the reason); the field is left null. A record whose values matter keeps the reason.
    virtual void ValueUnreadable(const FieldInfo& /*field*/, const std::string& /*why*/) {}
};

// The record classes created so far by StaticClass(), found by name; nullptr when unknown.
// Every class of a linked unit that was used at least once is known.
const RecordClass* FindRecordClass(std::string_view name);
void RegisterRecordClass(const RecordClass& cls);

// An enumeration type and its info; E must be declared with VELQOR_ENUM.
template <class E>
const EnumTypeInfo& EnumInfo() {
    return VelqorEnumInfo(E{});
}
template <class E>
std::string_view EnumName(E value) {
    const auto& info = EnumInfo<E>();
    auto i = size_t(value);
    return i < info.Values.size() ? std::string_view(info.Values[i]) : std::string_view();
}

namespace detail {

EnumTypeInfo MakeEnumInfo(std::string_view name, std::string_view valueList);

template <class T>
struct IsUniquePtr : std::false_type {};
template <class T>
struct IsUniquePtr<std::unique_ptr<T>> : std::true_type {
    using Type = T;
};
template <class T>
struct IsRecordVector : std::false_type {};
template <class T>
struct IsRecordVector<std::vector<std::unique_ptr<T>>> : std::true_type {
    using Type = T;
};
template <class T>
struct IsEnumSet : std::false_type {};
template <class E>
struct IsEnumSet<EnumSet<E>> : std::true_type {
    using Type = E;
};
template <class T>
struct IsVector : std::false_type {};
template <class T>
struct IsVector<std::vector<T>> : std::true_type {
    using Type = T;
};

template <class C, class T>
C ClassOf(T C::*);
template <class C, class T>
T MemberOf(T C::*);

enum class Tag { None, Ansi, DateTime, Duration };

template <auto M>
auto& Member(TRemotable& r) {
    using C = decltype(ClassOf(M));
    return static_cast<C&>(r).*M;
}
template <auto M>
const auto& Member(const TRemotable& r) {
    using C = decltype(ClassOf(M));
    return static_cast<const C&>(r).*M;
}

template <class T>
constexpr std::string_view ScalarTypeName() {
    if constexpr (std::is_same_v<T, int8_t>)
        return "ShortInt";
    else if constexpr (std::is_same_v<T, uint8_t>)
        return "Byte";
    else if constexpr (std::is_same_v<T, int16_t>)
        return "SmallInt";
    else if constexpr (std::is_same_v<T, uint16_t>)
        return "Word";
    else if constexpr (std::is_same_v<T, int32_t>)
        return "Integer";
    else if constexpr (std::is_same_v<T, uint32_t>)
        return "Cardinal";
    else if constexpr (std::is_same_v<T, int64_t>)
        return "Int64";
    else if constexpr (std::is_same_v<T, float>)
        return "Single";
    else if constexpr (std::is_same_v<T, double>)
        return "Double";
    else if constexpr (std::is_same_v<T, bool>)
        return "Boolean";
    else if constexpr (std::is_same_v<T, char>)
        return "Char";
    else if constexpr (std::is_same_v<T, std::string>)
        return "WideString";
    else if constexpr (std::is_same_v<T, Variant>)
        return "Variant";
    else
        return "Unknown";
}

template <auto M, Tag tag = Tag::None>
FieldInfo MakeField(std::string_view name, bool attribute) {
    using T = decltype(MemberOf(M));
    FieldInfo f;
    f.Name = name;
    f.IsAttribute = attribute;
    f.Storage = [](TRemotable& r) -> void* { return &Member<M>(r); };
    if constexpr (std::is_same_v<T, std::string>) {
        f.Kind = tag == Tag::Ansi ? FieldKind::AnsiString : FieldKind::WideString;
        f.TypeName = tag == Tag::Ansi ? "AnsiString" : "WideString";
    } else if constexpr (std::is_same_v<T, char>) {
        f.Kind = FieldKind::Char;
        f.TypeName = "Char";
        f.Min = 0;
        f.Max = 255;
    } else if constexpr (std::is_same_v<T, bool>) {
        f.Kind = FieldKind::Boolean;
        f.TypeName = "Boolean";
    } else if constexpr (std::is_same_v<T, int64_t>) {
        f.Kind = FieldKind::Int64;
        f.TypeName = "Int64";
        f.Min = INT64_MIN;
        f.Max = INT64_MAX;
    } else if constexpr (std::is_integral_v<T>) {
        static_assert(sizeof(T) <= 4, "unsupported integer field");
        f.Kind = FieldKind::Integer;
        f.TypeName = ScalarTypeName<T>();
        f.Min = int64_t(std::numeric_limits<T>::min());
        f.Max = int64_t(std::numeric_limits<T>::max());
        f.Int = sizeof(T) == 1   ? (std::is_signed_v<T> ? IntType::I8 : IntType::U8)
                : sizeof(T) == 2 ? (std::is_signed_v<T> ? IntType::I16 : IntType::U16)
                                 : (std::is_signed_v<T> ? IntType::I32 : IntType::U32);
    } else if constexpr (std::is_same_v<T, float>) {
        f.Kind = FieldKind::Float;
        f.Float = FloatType::Single;
        f.TypeName = "Single";
    } else if constexpr (std::is_same_v<T, double>) {
        f.Kind = FieldKind::Float;
        f.Float = tag == Tag::DateTime   ? FloatType::DateTime
                  : tag == Tag::Duration ? FloatType::Duration
                                         : FloatType::Double;
        f.TypeName = tag == Tag::DateTime   ? "TDateTime"
                     : tag == Tag::Duration ? "TDuration"
                                            : "Double";
    } else if constexpr (std::is_same_v<T, Variant>) {
        f.Kind = FieldKind::Variant;
        f.TypeName = "Variant";
    } else if constexpr (std::is_enum_v<T>) {
        f.Kind = FieldKind::Enumeration;
        f.Enum = &EnumInfo<T>();
        f.TypeName = f.Enum->Name;
        f.Min = 0;
        f.Max = int64_t(f.Enum->Values.size()) - 1;
        f.GetOrdinal = [](const TRemotable& r) -> int64_t { return int64_t(Member<M>(r)); };
        f.SetOrdinal = [](TRemotable& r, int64_t v) { Member<M>(r) = T(v); };
    } else if constexpr (IsEnumSet<T>::value) {
        using E = typename IsEnumSet<T>::Type;
        f.Kind = FieldKind::Set;
        f.Enum = &EnumInfo<E>();
        f.TypeName = f.Enum->Name;
        f.GetOrdinal = [](const TRemotable& r) -> int64_t { return Member<M>(r).Bits; };
        f.SetOrdinal = [](TRemotable& r, int64_t v) { Member<M>(r).Bits = uint32_t(v); };
    } else if constexpr (IsUniquePtr<T>::value) {
        using R = typename IsUniquePtr<T>::Type;
        f.Kind = FieldKind::Record;
        f.IsAttribute = false;
        f.TypeName = R::ClassName;
        f.RecordType = []() -> const RecordClass* { return &R::StaticClass(); };
        f.GetRecord = [](const TRemotable& r) -> TRemotable* { return Member<M>(r).get(); };
        f.SetRecord = [](TRemotable& r, std::unique_ptr<TRemotable> v) {
            Member<M>(r).reset(static_cast<R*>(v.release()));
        };
    } else if constexpr (IsRecordVector<T>::value) {
        using R = typename IsRecordVector<T>::Type;
        f.Kind = FieldKind::RecordArray;
        f.IsAttribute = false;
        f.TypeName = R::ClassName;
        f.RecordType = []() -> const RecordClass* { return &R::StaticClass(); };
        f.Length = [](const TRemotable& r) -> size_t { return Member<M>(r).size(); };
        f.SetLength = [](TRemotable& r, size_t n) { Member<M>(r).resize(n); };
        f.GetItem = [](const TRemotable& r, size_t i) -> TRemotable* {
            return Member<M>(r)[i].get();
        };
        f.SetItem = [](TRemotable& r, size_t i, std::unique_ptr<TRemotable> v) {
            Member<M>(r)[i].reset(static_cast<R*>(v.release()));
        };
    } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
        f.Kind = FieldKind::StringArray;
        f.IsAttribute = false;
        f.TypeName = "WideString";
        f.Length = [](const TRemotable& r) -> size_t { return Member<M>(r).size(); };
        f.SetLength = [](TRemotable& r, size_t n) { Member<M>(r).resize(n); };
        f.StringItem = [](TRemotable& r, size_t i) -> std::string* { return &Member<M>(r)[i]; };
    } else if constexpr (IsVector<T>::value) {
        using E = typename IsVector<T>::Type;
        f.Kind = FieldKind::OtherArray;
        f.IsAttribute = false;
        f.TypeName = IsVector<E>::value ? "array" : ScalarTypeName<E>();
        f.Length = [](const TRemotable& r) -> size_t { return Member<M>(r).size(); };
    } else {
        static_assert(sizeof(T) == 0, "unsupported field type");
    }
    return f;
}

}  // namespace detail

// The field list of a record, in declaration order; Base is the record it derives from.
#define VELQOR_RECORD(Class_, Base_, ...)                                                          \
  public:                                                                                          \
    using Self = Class_;                                                                           \
    static constexpr std::string_view ClassName = #Class_;                                         \
    static const ::velqor::RecordClass& StaticClass() {                                            \
        static const ::velqor::FieldInfo fields[] = {__VA_ARGS__};                                 \
        static const ::velqor::RecordClass cls(                                                    \
            ClassName, &Base_::StaticClass(), fields,                                              \
            []() -> std::unique_ptr<::velqor::TRemotable> { return std::make_unique<Class_>(); }); \
        return cls;                                                                                \
    }                                                                                              \
    const ::velqor::RecordClass& Class() const override { return StaticClass(); }

// A record without fields of its own.
#define VELQOR_RECORD_EMPTY(Class_, Base_)                                                         \
  public:                                                                                          \
    using Self = Class_;                                                                           \
    static constexpr std::string_view ClassName = #Class_;                                         \
    static const ::velqor::RecordClass& StaticClass() {                                            \
        static const ::velqor::RecordClass cls(                                                    \
            ClassName, &Base_::StaticClass(), {},                                                  \
            []() -> std::unique_ptr<::velqor::TRemotable> { return std::make_unique<Class_>(); }); \
        return cls;                                                                                \
    }                                                                                              \
    const ::velqor::RecordClass& Class() const override { return StaticClass(); }

#define VELQOR_ATTR(Name_) ::velqor::detail::MakeField<&Self::Name_>(#Name_, true)
#define VELQOR_ELEM(Name_) ::velqor::detail::MakeField<&Self::Name_>(#Name_, false)
#define VELQOR_DATETIME_ATTR(Name_) \
    ::velqor::detail::MakeField<&Self::Name_, ::velqor::detail::Tag::DateTime>(#Name_, true)
#define VELQOR_DATETIME_ELEM(Name_) \
    ::velqor::detail::MakeField<&Self::Name_, ::velqor::detail::Tag::DateTime>(#Name_, false)
#define VELQOR_DURATION_ATTR(Name_) \
    ::velqor::detail::MakeField<&Self::Name_, ::velqor::detail::Tag::Duration>(#Name_, true)
#define VELQOR_DURATION_ELEM(Name_) \
    ::velqor::detail::MakeField<&Self::Name_, ::velqor::detail::Tag::Duration>(#Name_, false)
#define VELQOR_ANSI_ATTR(Name_) \
    ::velqor::detail::MakeField<&Self::Name_, ::velqor::detail::Tag::Ansi>(#Name_, true)
#define VELQOR_ANSI_ELEM(Name_) \
    ::velqor::detail::MakeField<&Self::Name_, ::velqor::detail::Tag::Ansi>(#Name_, false)

// An enumeration whose value names are the enumerators' own names, in order from 0:
//   VELQOR_ENUM(browseFilter, all, branch, item)
#define VELQOR_ENUM(Name_, ...)                                   \
    enum class Name_ : int32_t { __VA_ARGS__ };                   \
    inline const ::velqor::EnumTypeInfo& VelqorEnumInfo(Name_) {  \
        static const ::velqor::EnumTypeInfo info =                \
            ::velqor::detail::MakeEnumInfo(#Name_, #__VA_ARGS__); \
        return info;                                              \
    }

}  // namespace velqor
