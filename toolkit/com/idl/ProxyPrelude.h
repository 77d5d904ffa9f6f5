// Read before each generated proxy/stub source: the stubless proxies need these definitions,
// which the mingw-w64 headers declare for C++ only.
#pragma once

#define USE_STUBLESS_PROXY
#include <objbase.h>

HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown* This, REFIID riid, void** ppv);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown* This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown* This);
