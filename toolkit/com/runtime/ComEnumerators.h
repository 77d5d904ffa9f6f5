// Enumerator objects (IEnumString, IEnumGUID, IEnumUnknown and the like) over a vector: each
// Next hands out copies that the caller owns (task-memory strings, added references).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "com/runtime/ComText.h"
#include "com/runtime/PlatformObject.h"

namespace velqor::com {

template <class T>
struct PlainCopy {
    using Stored = T;
    static HRESULT Out(const T& in, T& out) {
        out = in;
        return S_OK;
    }
    static void Free(T&) {}
};

// Strings are kept as UTF-16 and handed out in task memory (the caller frees with
// CoTaskMemFree).
struct TaskStringCopy {
    using Stored = std::u16string;
    static HRESULT Out(const std::u16string& in, LPOLESTR& out) {
        out = static_cast<LPOLESTR>(CoTaskMemAlloc((in.size() + 1) * sizeof(OLECHAR)));
        if (!out) return E_OUTOFMEMORY;
        std::char_traits<char16_t>::copy(AsUtf16(out), in.c_str(), in.size() + 1);
        return S_OK;
    }
    static void Free(LPOLESTR& s) {
        CoTaskMemFree(s);
        s = nullptr;
    }
};

template <class I>
struct InterfaceCopy {
    using Stored = ComPtr<I>;
    static HRESULT Out(const ComPtr<I>& in, I*& out) {
        out = in.Get();
        if (out) out->AddRef();
        return S_OK;
    }
    static void Free(I*& p) {
        if (p) p->Release();
        p = nullptr;
    }
};

struct ConnectionCopy {
    using Stored = std::pair<ComPtr<::IUnknown>, DWORD>;
    static HRESULT Out(const Stored& in, CONNECTDATA& out) {
        out.pUnk = in.first.Get();
        if (out.pUnk) out.pUnk->AddRef();
        out.dwCookie = in.second;
        return S_OK;
    }
    static void Free(CONNECTDATA& c) {
        if (c.pUnk) c.pUnk->Release();
        c.pUnk = nullptr;
    }
};

template <class IEnum, class Item, class Policy>
class VectorEnumerator : public PlatformObject<IEnum> {
  public:
    using Stored = typename Policy::Stored;

    explicit VectorEnumerator(std::vector<Stored> items, size_t position = 0)
        : items_(std::move(items)), pos_(position) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, Item* rgelt, ULONG* pceltFetched) override {
        if (pceltFetched) *pceltFetched = 0;
        if (!rgelt || (celt != 1 && !pceltFetched)) return E_POINTER;
        ULONG n = 0;
        for (; n < celt && pos_ < items_.size(); ++n, ++pos_) {
            HRESULT hr = Policy::Out(items_[pos_], rgelt[n]);
            if (FAILED(hr)) {
                while (n > 0) Policy::Free(rgelt[--n]);
                return hr;
            }
        }
        if (pceltFetched) *pceltFetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
        size_t left = items_.size() - pos_;
        pos_ += celt < left ? celt : left;
        return celt <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        pos_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnum** ppenum) override {
        if (!ppenum) return E_POINTER;
        auto copy = MakeObject<VectorEnumerator>(items_, pos_);
        *ppenum = copy.Detach();
        return S_OK;
    }

  private:
    std::vector<Stored> items_;
    size_t pos_;
};

using GuidEnumerator = VectorEnumerator<IEnumGUID, ::GUID, PlainCopy<::GUID>>;
using StringEnumerator = VectorEnumerator<IEnumString, LPOLESTR, TaskStringCopy>;
using UnknownEnumerator = VectorEnumerator<IEnumUnknown, ::IUnknown*, InterfaceCopy<::IUnknown>>;
using ConnectionsEnumerator = VectorEnumerator<IEnumConnections, CONNECTDATA, ConnectionCopy>;
using ConnectionPointsEnumerator =
    VectorEnumerator<IEnumConnectionPoints, IConnectionPoint*, InterfaceCopy<IConnectionPoint>>;
using CategoryInfoEnumerator =
    VectorEnumerator<IEnumCATEGORYINFO, CATEGORYINFO, PlainCopy<CATEGORYINFO>>;
using FormatEtcEnumerator = VectorEnumerator<IEnumFORMATETC, FORMATETC, PlainCopy<FORMATETC>>;

}  // namespace velqor::com
