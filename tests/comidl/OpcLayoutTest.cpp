// The hand-written OPC declarations against the header widl generates from the project's
// interface definitions: the same identifiers, every method in the same vtable slot, the same
// number of methods, and the same structure sizes and field offsets. A mismatch here is a call
// that lands in the wrong method or a field read from the wrong place once the platform's
// marshalling is in the way.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>

#include "OpcLayoutFact.h"
#include "com/OpcDaIntf.h"

namespace velqor::test {
namespace {

// The vtable slot of a virtual method: a pointer to a virtual member holds 1 + the slot's byte
// offset in the vtable (Itanium C++ ABI, the ABI of the toolkit's Linux build).
template <class C, class M>
unsigned long long Slot(M C::*method) {
    static_assert(sizeof(method) == 2 * sizeof(void*));
    std::uintptr_t raw = 0;
    std::memcpy(&raw, &method, sizeof raw);
    return (raw - 1) / sizeof(void*);
}

// The method count of an interface: the slot that a new virtual method of a derived class gets.
template <class I>
struct CountProbe : I {
    virtual void VelqorProbe();

  protected:
    ~CountProbe() = default;
};

template <class I>
unsigned long long MethodCount() {
    return Slot(&CountProbe<I>::VelqorProbe);
}

unsigned long long IidHalf1(const IID& g) {
    return (static_cast<unsigned long long>(g.Data1) << 32) | (unsigned(g.Data2) << 16) | g.Data3;
}

unsigned long long IidHalf2(const IID& g) {
    unsigned long long v = 0;
    for (auto b : g.Data4) v = (v << 8) | b;
    return v;
}

std::map<std::string, unsigned long long> HandWrittenFacts() {
    std::map<std::string, unsigned long long> facts;
#define VELQOR_OPC_INTERFACE(I, Base)      \
    facts[#I ".iid1"] = IidHalf1(IID_##I); \
    facts[#I ".iid2"] = IidHalf2(IID_##I); \
    facts[#I ".methods"] = MethodCount<I>();
#define VELQOR_OPC_METHOD(I, m) facts[#I "." #m] = Slot(&I::m);
#define VELQOR_OPC_STRUCT(S) facts[#S ".size"] = sizeof(S);
#define VELQOR_OPC_FIELD(S, f) facts[#S "." #f] = offsetof(S, f);
#include "OpcLayoutList.h"
#undef VELQOR_OPC_INTERFACE
#undef VELQOR_OPC_METHOD
#undef VELQOR_OPC_STRUCT
#undef VELQOR_OPC_FIELD
    return facts;
}

TEST(OpcLayout, HandWrittenDeclarationsMatchTheGeneratedHeader) {
    if (velqor_widl_fact_count == 0)
        GTEST_SKIP() << "widl or Wine's IDL files are not installed (scripts/setup-wine.sh "
                        "installs them); the generated header could not be compared";
    const auto ours = HandWrittenFacts();
    const VelqorOpcLayoutFact* generated = velqor_widl_facts();
    ASSERT_EQ(ours.size(), velqor_widl_fact_count) << "both sides compute the same list";
    for (unsigned i = 0; i < velqor_widl_fact_count; ++i) {
        const auto it = ours.find(generated[i].key);
        ASSERT_NE(it, ours.end()) << generated[i].key;
        EXPECT_EQ(it->second, generated[i].value) << generated[i].key;
    }
}

// The list must name every method the definitions declare: otherwise a method missing from
// both sides, or a trailing one, would pass unnoticed.
TEST(OpcLayout, TheListCoversEveryGeneratedMethod) {
    if (velqor_widl_fact_count == 0) GTEST_SKIP() << "no generated header to compare";
    std::map<std::string, unsigned long long> methods, lastSlot;
    const VelqorOpcLayoutFact* generated = velqor_widl_facts();
    std::string iface;
    for (unsigned i = 0; i < velqor_widl_fact_count; ++i) {
        const std::string key = generated[i].key;
        const auto dot = key.find('.');
        const std::string owner = key.substr(0, dot), what = key.substr(dot + 1);
        if (what == "methods") {
            methods[owner] = generated[i].value;
            iface = owner;
        } else if (owner == iface && what.rfind("iid", 0) != 0) {
            lastSlot[owner] = generated[i].value;
        }
    }
    ASSERT_FALSE(methods.empty());
    for (const auto& [name, count] : methods)
        EXPECT_EQ(lastSlot[name] + 1, count) << name << ": methods after the last one listed";
}

}  // namespace
}  // namespace velqor::test
