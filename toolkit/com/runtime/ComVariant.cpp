// VARIANT life cycle and SAFEARRAYs. Arrays keep their descriptor and their data in task
// memory, so the accounting also proves that arrays are destroyed.
#include <cstring>
#include <vector>

#include "ComPlatform.h"

namespace {

// The descriptor block starts 16 bytes before the SAFEARRAY; its element type sits in the
// 4 bytes right before it, as on the platform (FADF_HAVEVARTYPE).
constexpr size_t kHeader = 16;

size_t ElementSize(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_ERROR:
            return 4;
        case VT_I8:
        case VT_UI8:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
            return 8;
        case VT_BSTR:
        case VT_UNKNOWN:
        case VT_DISPATCH:
            return sizeof(void*);
        case VT_VARIANT:
            return sizeof(VARIANT);
        case VT_DECIMAL:
            return sizeof(DECIMAL);
        default:
            return 0;
    }
}

bool ValidScalarType(VARTYPE vt) {
    return vt == VT_EMPTY || vt == VT_NULL || vt == VT_VARIANT || ElementSize(vt) != 0;
}

USHORT FeaturesOf(VARTYPE vt) {
    USHORT f = FADF_HAVEVARTYPE;
    if (vt == VT_BSTR) f |= FADF_BSTR;
    if (vt == VT_UNKNOWN) f |= FADF_UNKNOWN;
    if (vt == VT_DISPATCH) f |= FADF_DISPATCH;
    if (vt == VT_VARIANT) f |= FADF_VARIANT;
    return f;
}

char* HeaderOf(SAFEARRAY* psa) { return reinterpret_cast<char*>(psa) - kHeader; }

VARTYPE StoredType(SAFEARRAY* psa) {
    DWORD vt;
    std::memcpy(&vt, HeaderOf(psa) + kHeader - sizeof(DWORD), sizeof vt);
    return VARTYPE(vt);
}

// Bound of dimension d (0 = left-most); stored right-most first.
SAFEARRAYBOUND& BoundOf(SAFEARRAY* psa, UINT d) { return psa->rgsabound[psa->cDims - 1 - d]; }

size_t ElementCount(SAFEARRAY* psa) {
    size_t n = 1;
    for (UINT d = 0; d < psa->cDims; ++d) n *= BoundOf(psa, d).cElements;
    return n;
}

// Offset of the element at rgIndices (rgIndices[0] the left-most, fastest-varying dimension).
bool CellOffset(SAFEARRAY* psa, const LONG* rgIndices, size_t& offset) {
    size_t cell = 0, stride = 1;
    for (UINT d = 0; d < psa->cDims; ++d) {
        const SAFEARRAYBOUND& b = BoundOf(psa, d);
        int64_t i = int64_t(rgIndices[d]) - b.lLbound;
        if (i < 0 || i >= int64_t(b.cElements)) return false;
        cell += size_t(i) * stride;
        stride *= b.cElements;
    }
    offset = cell * psa->cbElements;
    return true;
}

void ClearElement(VARTYPE vt, void* p) {
    switch (vt) {
        case VT_BSTR:
            SysFreeString(*static_cast<BSTR*>(p));
            *static_cast<BSTR*>(p) = nullptr;
            break;
        case VT_UNKNOWN:
        case VT_DISPATCH:
            if (auto* u = *static_cast<IUnknown**>(p)) u->Release();
            *static_cast<IUnknown**>(p) = nullptr;
            break;
        case VT_VARIANT:
            VariantClear(static_cast<VARIANT*>(p));
            break;
        default:
            break;
    }
}

// Copies one element from src into the cleared cell dst.
HRESULT CopyElement(VARTYPE vt, void* dst, const void* src, size_t size) {
    switch (vt) {
        case VT_BSTR: {
            BSTR s = *static_cast<const BSTR*>(src);
            BSTR copy = s ? SysAllocStringLen(s, SysStringLen(s)) : nullptr;
            if (s && !copy) return E_OUTOFMEMORY;
            *static_cast<BSTR*>(dst) = copy;
            return S_OK;
        }
        case VT_UNKNOWN:
        case VT_DISPATCH: {
            IUnknown* u = *static_cast<IUnknown* const*>(src);
            if (u) u->AddRef();
            *static_cast<IUnknown**>(dst) = u;
            return S_OK;
        }
        case VT_VARIANT:
            VariantInit(static_cast<VARIANT*>(dst));
            return VariantCopy(static_cast<VARIANT*>(dst), static_cast<const VARIANT*>(src));
        default:
            std::memcpy(dst, src, size);
            return S_OK;
    }
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
    size_t size = ElementSize(vt);
    if (size == 0 || cDims == 0 || cDims > 0xFFFF || !rgsabound) return nullptr;
    size_t count = 1;
    for (UINT d = 0; d < cDims; ++d) {
        if (rgsabound[d].cElements != 0 && count > SIZE_MAX / 16 / rgsabound[d].cElements)
            return nullptr;
        count *= rgsabound[d].cElements;
    }
    size_t descriptor = sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
    char* block = static_cast<char*>(CoTaskMemAlloc(kHeader + descriptor));
    if (!block) return nullptr;
    std::memset(block, 0, kHeader + descriptor);
    DWORD storedVt = vt;
    std::memcpy(block + kHeader - sizeof(DWORD), &storedVt, sizeof storedVt);
    auto* psa = reinterpret_cast<SAFEARRAY*>(block + kHeader);
    psa->cDims = USHORT(cDims);
    psa->fFeatures = FeaturesOf(vt);
    psa->cbElements = ULONG(size);
    for (UINT d = 0; d < cDims; ++d) BoundOf(psa, d) = rgsabound[d];
    if (count > 0) {
        psa->pvData = CoTaskMemAlloc(count * size);
        if (!psa->pvData) {
            CoTaskMemFree(block);
            return nullptr;
        }
        std::memset(psa->pvData, 0, count * size);
    }
    return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
    SAFEARRAYBOUND bound{cElements, lLbound};
    return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
    if (!psa) return S_OK;
    if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
    VARTYPE vt = StoredType(psa);
    if (psa->pvData) {
        size_t n = ElementCount(psa);
        for (size_t i = 0; i < n; ++i)
            ClearElement(vt, static_cast<char*>(psa->pvData) + i * psa->cbElements);
        CoTaskMemFree(psa->pvData);
    }
    CoTaskMemFree(HeaderOf(psa));
    return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
    if (!ppsaOut) return E_INVALIDARG;
    *ppsaOut = nullptr;
    if (!psa) return S_OK;
    VARTYPE vt = StoredType(psa);
    std::vector<SAFEARRAYBOUND> bounds(psa->cDims);
    for (UINT d = 0; d < psa->cDims; ++d) bounds[d] = BoundOf(psa, d);
    SAFEARRAY* copy = SafeArrayCreate(vt, psa->cDims, bounds.data());
    if (!copy) return E_OUTOFMEMORY;
    size_t n = ElementCount(psa);
    for (size_t i = 0; i < n; ++i) {
        size_t at = i * psa->cbElements;
        HRESULT hr = CopyElement(vt, static_cast<char*>(copy->pvData) + at,
                                 static_cast<char*>(psa->pvData) + at, psa->cbElements);
        if (FAILED(hr)) {
            SafeArrayDestroy(copy);
            return hr;
        }
    }
    *ppsaOut = copy;
    return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) { return psa ? psa->cDims : 0; }

UINT SafeArrayGetElemsize(SAFEARRAY* psa) { return psa ? psa->cbElements : 0; }

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
    if (!psa || !plLbound) return E_INVALIDARG;
    if (nDim < 1 || nDim > psa->cDims) return DISP_E_BADINDEX;
    *plLbound = BoundOf(psa, nDim - 1).lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
    if (!psa || !plUbound) return E_INVALIDARG;
    if (nDim < 1 || nDim > psa->cDims) return DISP_E_BADINDEX;
    const SAFEARRAYBOUND& b = BoundOf(psa, nDim - 1);
    *plUbound = LONG(int64_t(b.lLbound) + int64_t(b.cElements) - 1);
    return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
    if (!psa || !pvt) return E_INVALIDARG;
    *pvt = StoredType(psa);
    return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    if (!psa || !rgIndices || !pv) return E_INVALIDARG;
    size_t at;
    if (!CellOffset(psa, rgIndices, at)) return DISP_E_BADINDEX;
    return CopyElement(StoredType(psa), pv, static_cast<char*>(psa->pvData) + at, psa->cbElements);
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    if (!psa || !rgIndices) return E_INVALIDARG;
    size_t at;
    if (!CellOffset(psa, rgIndices, at)) return DISP_E_BADINDEX;
    VARTYPE vt = StoredType(psa);
    void* cell = static_cast<char*>(psa->pvData) + at;
    // Strings and interfaces are passed as the pointer itself, everything else by address.
    void* source = pv;
    if (vt == VT_BSTR || vt == VT_UNKNOWN || vt == VT_DISPATCH) {
        source = &pv;
    } else if (!pv) {
        return E_INVALIDARG;
    }
    alignas(VARIANT) unsigned char fresh[sizeof(VARIANT)];
    HRESULT hr = CopyElement(vt, fresh, source, psa->cbElements);
    if (FAILED(hr)) return hr;
    ClearElement(vt, cell);
    std::memcpy(cell, fresh, psa->cbElements);
    return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
    if (!psa) return E_INVALIDARG;
    ++psa->cLocks;
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
    if (!psa) return E_INVALIDARG;
    if (psa->cLocks == 0) return E_UNEXPECTED;
    --psa->cLocks;
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
    if (!psa || !ppvData) return E_INVALIDARG;
    ++psa->cLocks;
    *ppvData = psa->pvData;
    return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) { return SafeArrayUnlock(psa); }

void VariantInit(VARIANTARG* pvarg) {
    if (!pvarg) return;
    std::memset(pvarg, 0, sizeof *pvarg);
    pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* pvarg) {
    if (!pvarg) return E_INVALIDARG;
    VARTYPE vt = pvarg->vt;
    VARTYPE base = vt & VT_TYPEMASK;
    if ((vt & ~(VT_TYPEMASK | VT_ARRAY | VT_BYREF)) != 0 || !ValidScalarType(base))
        return DISP_E_BADVARTYPE;
    if (vt & VT_BYREF) {
        // references belong to whoever made them
    } else if (vt & VT_ARRAY) {
        HRESULT hr = SafeArrayDestroy(pvarg->parray);
        if (FAILED(hr)) return hr;
    } else if (vt == VT_BSTR) {
        SysFreeString(pvarg->bstrVal);
    } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
        if (pvarg->punkVal) pvarg->punkVal->Release();
    }
    VariantInit(pvarg);
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
    if (!pvargDest || !pvargSrc) return E_INVALIDARG;
    if (pvargDest == pvargSrc) return S_OK;
    VARTYPE vt = pvargSrc->vt;
    if ((vt & ~(VT_TYPEMASK | VT_ARRAY | VT_BYREF)) != 0 || !ValidScalarType(vt & VT_TYPEMASK))
        return DISP_E_BADVARTYPE;
    HRESULT hr = VariantClear(pvargDest);
    if (FAILED(hr)) return hr;
    VARIANT copy = *pvargSrc;
    if (!(vt & VT_BYREF)) {
        if (vt & VT_ARRAY) {
            hr = SafeArrayCopy(pvargSrc->parray, &copy.parray);
        } else if (vt == VT_BSTR || vt == VT_UNKNOWN || vt == VT_DISPATCH) {
            hr = CopyElement(vt, &copy.byref, &pvargSrc->byref, sizeof(void*));
        }
    }
    if (FAILED(hr)) return hr;
    *pvargDest = copy;
    return S_OK;
}
