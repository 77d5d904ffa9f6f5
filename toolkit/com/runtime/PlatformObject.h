// Reference-counted objects on the platform's interfaces (servers, sinks, enumerators), and
// QueryInterface by interface type. Works against the platform's own headers as well: it uses
// only the platform's IUnknown and the interface identifiers named in InterfaceTraits.
#pragma once

#include <atomic>
#include <type_traits>
#include <utility>

#include "com/runtime/ComPlatform.h"
#include "runtime/Unknown.h"

namespace velqor::com {

// Specialised for every platform-style interface: Id() gives its identifier, Base the interface
// it extends (::IUnknown for direct descendants).
template <class I>
struct InterfaceTraits;

}  // namespace velqor::com

#define VELQOR_INTERFACE_TRAITS(I, BaseInterface, iid) \
    template <>                                        \
    struct velqor::com::InterfaceTraits<I> {           \
        static const ::IID& Id() { return iid; }       \
        using Base = BaseInterface;                    \
    }

VELQOR_INTERFACE_TRAITS(::IUnknown, void, IID_IUnknown);
VELQOR_INTERFACE_TRAITS(IClassFactory, ::IUnknown, IID_IClassFactory);
VELQOR_INTERFACE_TRAITS(IEnumUnknown, ::IUnknown, IID_IEnumUnknown);
VELQOR_INTERFACE_TRAITS(IEnumString, ::IUnknown, IID_IEnumString);
VELQOR_INTERFACE_TRAITS(IEnumGUID, ::IUnknown, IID_IEnumGUID);
VELQOR_INTERFACE_TRAITS(IEnumCATEGORYINFO, ::IUnknown, IID_IEnumCATEGORYINFO);
VELQOR_INTERFACE_TRAITS(ICatInformation, ::IUnknown, IID_ICatInformation);
VELQOR_INTERFACE_TRAITS(IEnumConnections, ::IUnknown, IID_IEnumConnections);
VELQOR_INTERFACE_TRAITS(IConnectionPoint, ::IUnknown, IID_IConnectionPoint);
VELQOR_INTERFACE_TRAITS(IEnumConnectionPoints, ::IUnknown, IID_IEnumConnectionPoints);
VELQOR_INTERFACE_TRAITS(IConnectionPointContainer, ::IUnknown, IID_IConnectionPointContainer);
VELQOR_INTERFACE_TRAITS(IGlobalInterfaceTable, ::IUnknown, IID_IGlobalInterfaceTable);
VELQOR_INTERFACE_TRAITS(IAdviseSink, ::IUnknown, IID_IAdviseSink);
VELQOR_INTERFACE_TRAITS(IEnumFORMATETC, ::IUnknown, IID_IEnumFORMATETC);
VELQOR_INTERFACE_TRAITS(IEnumSTATDATA, ::IUnknown, IID_IEnumSTATDATA);
VELQOR_INTERFACE_TRAITS(IDataObject, ::IUnknown, IID_IDataObject);
VELQOR_INTERFACE_TRAITS(IMessageFilter, ::IUnknown, IID_IMessageFilter);

namespace velqor::com {

namespace detail {
template <class I, class Self>
bool FindPlatformInterface(Self* self, const ::IID& iid, void** object) {
    if (iid == InterfaceTraits<I>::Id()) {
        *object = static_cast<I*>(self);
        return true;
    }
    using B = typename InterfaceTraits<I>::Base;
    if constexpr (!std::is_void_v<B> && !std::is_same_v<B, ::IUnknown>) {
        return FindPlatformInterface<B>(static_cast<I*>(self), iid, object);
    }
    return false;
}
}  // namespace detail

// Objects made on PlatformObject alive in this process: a COM server process ends, and a server
// DLL may be unloaded, when none of its objects is left.
inline std::atomic<long>& LiveObjectCounter() {
    static std::atomic<long> count{0};
    return count;
}
inline long LiveObjectCount() { return LiveObjectCounter().load(); }

// Base of objects implementing the listed platform interfaces (and the interfaces they extend).
// Starts without references; MakeObject hands out the first one.
template <class... Interfaces>
class PlatformObject : public Interfaces... {
  public:
    using FirstInterface = std::tuple_element_t<0, std::tuple<Interfaces...>>;

    HRESULT STDMETHODCALLTYPE QueryInterface(const ::IID& iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown) {
            *object = ControllingUnknown();
        } else if (!(detail::FindPlatformInterface<Interfaces>(this, iid, object) || ...)) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }
    ULONG RefCount() const { return refs_.load(); }
    // The object's identity: the IUnknown that QueryInterface(IID_IUnknown) returns.
    ::IUnknown* ControllingUnknown() {
        return static_cast<::IUnknown*>(static_cast<FirstInterface*>(this));
    }

  protected:
    PlatformObject() { LiveObjectCounter().fetch_add(1); }
    virtual ~PlatformObject() { LiveObjectCounter().fetch_sub(1); }
    PlatformObject(const PlatformObject&) = delete;
    PlatformObject& operator=(const PlatformObject&) = delete;

  private:
    std::atomic<ULONG> refs_{0};
};

// Creates an object and returns the first reference to it.
template <class T, class... Args>
ComPtr<T> MakeObject(Args&&... args) {
    return ComPtr<T>(new T(std::forward<Args>(args)...));
}

// QueryInterface for U; an empty pointer when the object lacks it.
template <class U, class T>
ComPtr<U> QueryAs(T* p) {
    ComPtr<U> r;
    if (p) p->QueryInterface(InterfaceTraits<U>::Id(), reinterpret_cast<void**>(r.Put()));
    return r;
}
template <class U, class T>
ComPtr<U> QueryAs(const ComPtr<T>& p) {
    return QueryAs<U>(p.Get());
}

// Hands out a new reference to p through an out-parameter: S_OK, or E_POINTER for no out.
template <class I>
HRESULT CopyOut(I* p, I** out) {
    if (!out) return E_POINTER;
    if (p) p->AddRef();
    *out = p;
    return S_OK;
}

}  // namespace velqor::com
