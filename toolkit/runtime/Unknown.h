// IUnknown, ComPtr and ComObject: reference-counted objects with several interfaces.
#pragma once

#include <atomic>
#include <cstdint>
#include <tuple>
#include <type_traits>
#include <utility>

#include "Exception.h"
#include "Guid.h"
#include "HResult.h"

namespace velqor::com {

// Every interface declares `static constexpr IID IID_ = ...;` and `using Base = <parent>;`.
class IUnknown {
  public:
    static constexpr IID IID_ = MakeGuid("00000000-0000-0000-C000-000000000046");
    using Base = void;

    virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

  protected:
    ~IUnknown() = default;  // objects die through Release only
};

template <class I>
inline constexpr const IID& IIDOf = I::IID_;

// Holds one reference to an interface; AddRef on copy, Release on destruction.
template <class T>
class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference to p.
    explicit ComPtr(T* p) : p_(p) {
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    ComPtr(const ComPtr<U>& o) : ComPtr(static_cast<T*>(o.Get())) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }

    // Adopts a pointer that already carries a reference (no AddRef).
    static ComPtr Attach(T* p) {
        ComPtr r;
        r.p_ = p;
        return r;
    }
    T* Detach() { return std::exchange(p_, nullptr); }

    void Reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Out-parameter form for QueryInterface-style calls; releases what was held.
    T** Put() {
        Reset();
        return &p_;
    }

    // QueryInterface for U; an empty pointer when unsupported.
    template <class U>
    ComPtr<U> TryAs() const {
        ComPtr<U> r;
        if (p_) p_->QueryInterface(IIDOf<U>, reinterpret_cast<void**>(r.Put()));
        return r;
    }
    // QueryInterface for U; raises EOleSysError(E_NOINTERFACE) when unsupported.
    template <class U>
    ComPtr<U> As() const {
        ComPtr<U> r = TryAs<U>();
        if (!r) throw EOleSysError(E_NOINTERFACE);
        return r;
    }

    friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.p_ == b.p_; }
    friend bool operator==(const ComPtr& a, std::nullptr_t) { return a.p_ == nullptr; }

  private:
    T* p_ = nullptr;
};

namespace detail {
template <class I, class Self>
bool FindInterface(Self* self, const IID& iid, void** object) {
    if (iid == IIDOf<I>) {
        *object = static_cast<I*>(self);
        return true;
    }
    if constexpr (!std::is_void_v<typename I::Base> &&
                  !std::is_same_v<typename I::Base, IUnknown>) {
        if (iid == IIDOf<typename I::Base>) {
            *object = static_cast<typename I::Base*>(static_cast<I*>(self));
            return true;
        }
        return FindInterface<typename I::Base>(static_cast<I*>(self), iid, object);
    }
    return false;
}
}  // namespace detail

// Base of reference-counted objects implementing the listed interfaces (and their bases).
// The object starts with no reference; hand it out through Make, which takes the first one.
template <class... Interfaces>
class ComObject : public Interfaces... {
  public:
    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid == IUnknown::IID_) {
            *object = static_cast<IUnknown*>(static_cast<FirstInterface*>(this));
        } else if (!(detail::FindInterface<Interfaces>(this, iid, object) || ...)) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    uint32_t AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    uint32_t Release() override {
        uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }
    uint32_t RefCount() const { return refs_.load(); }

    // Creates an object and returns the first reference to the interface I.
    template <class T, class I = typename T::FirstInterface, class... Args>
    static ComPtr<I> Make(Args&&... args) {
        T* obj = new T(std::forward<Args>(args)...);
        return ComPtr<I>(static_cast<I*>(obj));
    }

    using FirstInterface = std::tuple_element_t<0, std::tuple<Interfaces...>>;

  protected:
    ComObject() = default;
    virtual ~ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

  private:
    std::atomic<uint32_t> refs_{0};
};

// Creates a reference-counted object of class T and returns its first reference as I.
template <class I, class T, class... Args>
ComPtr<I> MakeComObject(Args&&... args) {
    T* obj = new T(std::forward<Args>(args)...);
    return ComPtr<I>(static_cast<I*>(obj));
}

}  // namespace velqor::com
