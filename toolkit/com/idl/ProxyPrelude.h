// Read before each generated proxy/stub source: the stubless proxies need these definitions,
// which the mingw-w64 headers declare for C++ only.
#pragma once

// The proxy factory's own class identifier. Without it the factory would take the identifier of
// its first interface, a class that other vendors' proxy DLLs for the same interfaces register
// as well.
#define PROXY_CLSID_IS                                                                 \
    {                                                                                  \
        0xCC58D353, 0x927B, 0x4CE4, { 0x9F, 0x88, 0xF3, 0xA9, 0x96, 0x4D, 0xA8, 0xF0 } \
    }

#define USE_STUBLESS_PROXY
#include <objbase.h>

HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown* This, REFIID riid, void** ppv);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown* This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown* This);
