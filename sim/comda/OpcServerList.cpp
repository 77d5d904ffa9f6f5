#include "OpcServerList.h"

#include "com/OpcDaIntf.h"
#include "com/runtime/ComEnumerators.h"
#include "com/runtime/ComText.h"
#include "comda/SimFaults.h"

namespace velqor::sim {

namespace {

// A class list as the fault switches have it: whole, broken off after its first class, or
// endless.
template <class IEnum>
class ClassEnumerator : public com::VectorEnumerator<IEnum, GUID, com::PlainCopy<GUID>> {
    using Base = com::VectorEnumerator<IEnum, GUID, com::PlainCopy<GUID>>;

  public:
    explicit ClassEnumerator(std::vector<GUID> classes)
        : Base(classes), classes_(std::move(classes)), fault_(CurrentSimFaults()->ServerList) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, GUID* rgelt, ULONG* fetched) override {
        if (fault_ == ServerListFault::BreakOff) {
            if (brokenOff_) return E_FAIL;
            brokenOff_ = true;
            return Base::Next(celt < 1 ? celt : 1, rgelt, fetched);
        }
        if (fault_ == ServerListFault::Endless && !classes_.empty() && rgelt) {
            for (ULONG i = 0; i < celt; ++i) rgelt[i] = classes_[i % classes_.size()];
            if (fetched) *fetched = celt;
            return S_OK;
        }
        return Base::Next(celt, rgelt, fetched);
    }

  private:
    std::vector<GUID> classes_;
    ServerListFault fault_;
    bool brokenOff_ = false;
};

LPOLESTR TaskText(const std::string& utf8) {
    if (utf8.empty()) return nullptr;
    std::u16string w = com::Utf8ToUtf16(utf8);
    auto* s = static_cast<LPOLESTR>(CoTaskMemAlloc((w.size() + 1) * sizeof(OLECHAR)));
    if (s) std::char_traits<char16_t>::copy(com::AsUtf16(s), w.c_str(), w.size() + 1);
    return s;
}

class ServerList : public com::PlatformObject<IOPCServerList, IOPCServerList2> {
  public:
    explicit ServerList(std::string computer) : computer_(std::move(computer)) {}

    HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG cImplemented, CATID rgcatidImpl[],
                                                      ULONG, CATID[], IEnumGUID** out) override {
        return EnumFound<ClassEnumerator<IEnumGUID>>(cImplemented, rgcatidImpl, out);
    }
    HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG cImplemented, CATID rgcatidImpl[],
                                                      ULONG, CATID[], IOPCEnumGUID** out) override {
        return EnumFound<ClassEnumerator<IOPCEnumGUID>>(cImplemented, rgcatidImpl, out);
    }
    HRESULT STDMETHODCALLTYPE GetClassDetails(REFCLSID clsid, LPOLESTR* progId,
                                              LPOLESTR* userType) override {
        return GetClassDetails(clsid, progId, userType, nullptr);
    }
    HRESULT STDMETHODCALLTYPE GetClassDetails(REFCLSID clsid, LPOLESTR* progId, LPOLESTR* userType,
                                              LPOLESTR* versionIndependent) override {
        for (LPOLESTR* out : {progId, userType, versionIndependent})
            if (out) *out = nullptr;
        if (!progId || !userType) return E_INVALIDARG;
        for (const auto& reg : ListedClasses(computer_)) {
            if (reg.Clsid != clsid) continue;
            *progId = TaskText(reg.ProgId);
            *userType = TaskText(reg.Description);
            if (versionIndependent) *versionIndependent = TaskText(reg.VersionIndependentProgId);
            return S_OK;
        }
        return REGDB_E_CLASSNOTREG;
    }
    HRESULT STDMETHODCALLTYPE CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid) override {
        if (!progId || !clsid) return E_INVALIDARG;
        *clsid = CLSID_NULL;
        std::string wanted = com::Utf16ToUtf8(progId);
        for (const auto& reg : ListedClasses(computer_)) {
            if ((!reg.ProgId.empty() && reg.ProgId == wanted) ||
                (!reg.VersionIndependentProgId.empty() && reg.VersionIndependentProgId == wanted)) {
                *clsid = reg.Clsid;
                return S_OK;
            }
        }
        return CO_E_CLASSSTRING;
    }

  private:
    // The classes of the categories, handed out through an Enumerator.
    template <class Enumerator, class Out>
    HRESULT EnumFound(ULONG count, CATID ids[], Out** out) {
        if (!out) return E_POINTER;
        std::vector<GUID> found;
        HRESULT hr = Find(count, ids, found);
        *out = SUCCEEDED(hr) ? com::MakeObject<Enumerator>(found).Detach() : nullptr;
        return hr;
    }

    HRESULT Find(ULONG count, const CATID* categories, std::vector<GUID>& found) const {
        if (count != ULONG(-1) && count > 0 && !categories) return E_INVALIDARG;
        for (const auto& reg : ListedClasses(computer_)) {
            bool match = count == ULONG(-1);
            for (ULONG i = 0; !match && i < count; ++i)
                for (const auto& c : reg.Categories) match = match || c == categories[i];
            if (match) found.push_back(reg.Clsid);
        }
        return S_OK;
    }

    std::string computer_;
};

}  // namespace

HRESULT CreateOpcServerList(const std::string& computer, REFIID riid, void** object) {
    return com::MakeObject<ServerList>(computer)->QueryInterface(riid, object);
}

}  // namespace velqor::sim
