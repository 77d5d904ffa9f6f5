// The platform's COM types and calls, under the platform's own names and binary layout, so that
// COM client code reads the same here as against the platform's headers. On Windows this header
// only includes those headers; elsewhere it declares the subset the toolkit uses, implemented
// by the toolkit's own runtime (velqor_runtime).
#pragma once

#include "runtime/Guid.h"

#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX  // keep std::min and std::max usable
#endif
#include <comcat.h>
#include <objbase.h>
#include <ocidl.h>
#include <oleauto.h>
#include <windows.h>

#else

#include <cstddef>
#include <cstdint>

#include "runtime/Guid.h"
#include "runtime/HResult.h"
#include "runtime/VarType.h"

// Integer and text types (Windows sizes: LONG and ULONG are 32 bits also on 64-bit systems).
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int32_t BOOL;
typedef char CHAR;
typedef uint8_t UCHAR;
typedef float FLOAT;
typedef double DOUBLE;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef size_t SIZE_T;
typedef uintptr_t ULONG_PTR;
typedef void* PVOID;
typedef void* LPVOID;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef DWORD LCID;
typedef LONG SCODE;
typedef WORD CLIPFORMAT;
typedef DWORD REGSAM;
typedef char16_t WCHAR;
typedef char16_t OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
// Length-prefixed string: a 32-bit byte count before the first character, a terminating zero.
typedef OLECHAR* BSTR;
typedef velqor::VARTYPE VARTYPE;
typedef int16_t VARIANT_BOOL;
typedef double DATE;
typedef void* HGLOBAL;
typedef void* HANDLE;

#define TRUE 1
#define OLESTR(text) u##text  // an OLECHAR text literal
#define FALSE 0
#define STDMETHODCALLTYPE
#define WINAPI
#define STDAPI HRESULT
#define MAX_PATH 260

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// Variant type numbers (the toolkit's own table) and the few the toolkit names only here.
using velqor::VT_ARRAY;
using velqor::VT_BOOL;
using velqor::VT_BSTR;
using velqor::VT_BYREF;
using velqor::VT_CY;
using velqor::VT_DATE;
using velqor::VT_DECIMAL;
using velqor::VT_DISPATCH;
using velqor::VT_EMPTY;
using velqor::VT_ERROR;
using velqor::VT_HRESULT;
using velqor::VT_I1;
using velqor::VT_I2;
using velqor::VT_I4;
using velqor::VT_I8;
using velqor::VT_INT;
using velqor::VT_LPSTR;
using velqor::VT_LPWSTR;
using velqor::VT_NULL;
using velqor::VT_R4;
using velqor::VT_R8;
using velqor::VT_TYPEMASK;
using velqor::VT_UI1;
using velqor::VT_UI2;
using velqor::VT_UI4;
using velqor::VT_UI8;
using velqor::VT_UINT;
using velqor::VT_UNKNOWN;
using velqor::VT_VARIANT;
using velqor::VT_VOID;
inline constexpr VARTYPE VT_RECORD = 36;
inline constexpr VARTYPE VT_VECTOR = 0x1000;
inline constexpr VARTYPE VT_RESERVED = 0x8000;

// Result codes: the runtime's own constants, so that both spellings name the same objects.
typedef velqor::com::HRESULT HRESULT;
using velqor::com::CLASS_E_CLASSNOTAVAILABLE;
using velqor::com::CLASS_E_NOAGGREGATION;
using velqor::com::CO_E_CLASSSTRING;
using velqor::com::CO_E_NOT_SUPPORTED;
using velqor::com::CO_E_NOTINITIALIZED;
using velqor::com::CO_S_NOTALLINTERFACES;
using velqor::com::CONNECT_E_ADVISELIMIT;
using velqor::com::CONNECT_E_CANNOTCONNECT;
using velqor::com::CONNECT_E_NOCONNECTION;
using velqor::com::DISP_E_ARRAYISLOCKED;
using velqor::com::DISP_E_BADINDEX;
using velqor::com::DISP_E_BADVARTYPE;
using velqor::com::DISP_E_OVERFLOW;
using velqor::com::DISP_E_TYPEMISMATCH;
using velqor::com::DV_E_FORMATETC;
using velqor::com::DV_E_TYMED;
using velqor::com::E_ABORT;
using velqor::com::E_ACCESSDENIED;
using velqor::com::E_FAIL;
using velqor::com::E_HANDLE;
using velqor::com::E_INVALIDARG;
using velqor::com::E_NOINTERFACE;
using velqor::com::E_NOTIMPL;
using velqor::com::E_OUTOFMEMORY;
using velqor::com::E_POINTER;
using velqor::com::E_UNEXPECTED;
using velqor::com::FAILED;
using velqor::com::OLE_E_ADVISENOTSUPPORTED;
using velqor::com::OLE_E_NOCONNECTION;
using velqor::com::REGDB_E_CLASSNOTREG;
using velqor::com::REGDB_E_READREGDB;
using velqor::com::RPC_E_CALL_CANCELED;
using velqor::com::RPC_E_CHANGED_MODE;
using velqor::com::S_FALSE;
using velqor::com::S_OK;
using velqor::com::SUCCEEDED;
inline constexpr HRESULT NOERROR = 0;
// Win32 error numbers (the registry calls return these, not HRESULTs).
inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;
inline constexpr LONG RPC_S_SERVER_UNAVAILABLE = 1722;  // as a result: HRESULT_FROM_WIN32
constexpr HRESULT HRESULT_FROM_WIN32(LONG x) {
    return x <= 0 ? HRESULT(x) : HRESULT((uint32_t(x) & 0x0000FFFF) | (7u << 16) | 0x80000000u);
}

// Identifiers.
typedef velqor::com::GUID GUID;
typedef GUID IID;
typedef GUID CLSID;
typedef GUID CATID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;
typedef const CATID& REFCATID;
typedef GUID* LPGUID;
typedef CLSID* LPCLSID;
inline constexpr GUID GUID_NULL{};
inline constexpr IID IID_NULL{};
inline constexpr CLSID CLSID_NULL{};
inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

// Currency: a 64-bit integer scaled by 10000.
union CY {
    __extension__ struct {
        ULONG Lo;
        LONG Hi;
    };
    LONGLONG int64;
};

struct DECIMAL {
    USHORT wReserved;
    BYTE scale;
    BYTE sign;
    ULONG Hi32;
    ULONGLONG Lo64;
};

struct SAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
};
typedef SAFEARRAYBOUND* LPSAFEARRAYBOUND;

// Bounds are stored right-most dimension first (rgsabound[0] is the last dimension).
struct SAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    PVOID pvData;
    SAFEARRAYBOUND rgsabound[1];
};
typedef SAFEARRAY* LPSAFEARRAY;

enum : USHORT {
    FADF_AUTO = 0x1,
    FADF_STATIC = 0x2,
    FADF_EMBEDDED = 0x4,
    FADF_FIXEDSIZE = 0x10,
    FADF_RECORD = 0x20,
    FADF_HAVEIID = 0x40,
    FADF_HAVEVARTYPE = 0x80,
    FADF_BSTR = 0x100,
    FADF_UNKNOWN = 0x200,
    FADF_DISPATCH = 0x400,
    FADF_VARIANT = 0x800,
};

struct IUnknown;
struct IDispatch;
struct IRecordInfo;

// The platform's nameless members (v.vt, v.lVal) need nested anonymous types.
#ifdef __clang__
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wnested-anon-types"
#endif
struct VARIANT {
    union {
        __extension__ struct {
            VARTYPE vt;
            WORD wReserved1;
            WORD wReserved2;
            WORD wReserved3;
            union {
                LONGLONG llVal;
                LONG lVal;
                BYTE bVal;
                SHORT iVal;
                FLOAT fltVal;
                DOUBLE dblVal;
                VARIANT_BOOL boolVal;
                SCODE scode;
                CY cyVal;
                DATE date;
                BSTR bstrVal;
                IUnknown* punkVal;
                IDispatch* pdispVal;
                SAFEARRAY* parray;
                BYTE* pbVal;
                SHORT* piVal;
                LONG* plVal;
                LONGLONG* pllVal;
                FLOAT* pfltVal;
                DOUBLE* pdblVal;
                VARIANT_BOOL* pboolVal;
                SCODE* pscode;
                CY* pcyVal;
                DATE* pdate;
                BSTR* pbstrVal;
                IUnknown** ppunkVal;
                IDispatch** ppdispVal;
                SAFEARRAY** pparray;
                VARIANT* pvarVal;
                PVOID byref;
                CHAR cVal;
                USHORT uiVal;
                ULONG ulVal;
                ULONGLONG ullVal;
                INT intVal;
                UINT uintVal;
                DECIMAL* pdecVal;
                CHAR* pcVal;
                USHORT* puiVal;
                ULONG* pulVal;
                ULONGLONG* pullVal;
                INT* pintVal;
                UINT* puintVal;
                __extension__ struct {
                    PVOID pvRecord;
                    IRecordInfo* pRecInfo;
                };
            };
        };
        DECIMAL decVal;
    };
};
#ifdef __clang__
#pragma clang diagnostic pop
#endif
typedef VARIANT VARIANTARG;
typedef VARIANT* LPVARIANT;
static_assert(sizeof(void*) == 8 ? sizeof(VARIANT) == 24 : sizeof(VARIANT) == 16,
              "VARIANT has the platform's size: 16 bytes on 32-bit, 24 on 64-bit systems");
static_assert(sizeof(GUID) == 16 && sizeof(CY) == 8 && sizeof(DECIMAL) == 16);
static_assert(offsetof(VARIANT, vt) == 0 && offsetof(VARIANT, llVal) == 8 &&
              offsetof(VARIANT, decVal) == 0 && offsetof(VARIANT, pRecInfo) == 8 + sizeof(void*));
static_assert(offsetof(SAFEARRAY, pvData) == (sizeof(void*) == 8 ? 16 : 12) &&
              offsetof(SAFEARRAY, rgsabound) == (sizeof(void*) == 8 ? 24 : 16));

// VariantChangeType flags.
inline constexpr USHORT VARIANT_NOVALUEPROP = 0x1;
inline constexpr USHORT VARIANT_ALPHABOOL = 0x2;
inline constexpr USHORT VARIANT_NOUSEROVERRIDE = 0x4;
inline constexpr USHORT VARIANT_LOCALBOOL = 0x10;

// 100-nanosecond intervals since 1601-01-01 UTC.
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
typedef FILETIME* LPFILETIME;

// Data transfer.
struct DVTARGETDEVICE {
    DWORD tdSize;
    WORD tdDriverNameOffset;
    WORD tdDeviceNameOffset;
    WORD tdPortNameOffset;
    WORD tdExtDevmodeOffset;
    BYTE tdData[1];
};

struct FORMATETC {
    CLIPFORMAT cfFormat;
    DVTARGETDEVICE* ptd;
    DWORD dwAspect;
    LONG lindex;
    DWORD tymed;
};
typedef FORMATETC* LPFORMATETC;

struct IStream;
struct IStorage;
struct IMoniker;

struct STGMEDIUM {
    DWORD tymed;
    union {
        void* hBitmap;
        void* hMetaFilePict;
        void* hEnhMetaFile;
        HGLOBAL hGlobal;
        LPOLESTR lpszFileName;
        IStream* pstm;
        IStorage* pstg;
    };
    IUnknown* pUnkForRelease;
};
typedef STGMEDIUM* LPSTGMEDIUM;
static_assert(sizeof(void*) != 8 || (sizeof(FORMATETC) == 32 && sizeof(STGMEDIUM) == 24));

enum : DWORD {
    TYMED_NULL = 0,
    TYMED_HGLOBAL = 1,
    TYMED_FILE = 2,
    TYMED_ISTREAM = 4,
    TYMED_ISTORAGE = 8,
    TYMED_GDI = 16,
    TYMED_MFPICT = 32,
    TYMED_ENHMF = 64,
};
enum : DWORD {
    DVASPECT_CONTENT = 1,
    DVASPECT_THUMBNAIL = 2,
    DVASPECT_ICON = 4,
    DVASPECT_DOCPRINT = 8
};
enum : DWORD { ADVF_NODATA = 1, ADVF_PRIMEFIRST = 2, ADVF_ONLYONCE = 4, ADVF_DATAONSTOP = 64 };
enum : DWORD { DATADIR_GET = 1, DATADIR_SET = 2 };

// Global memory flags.
enum : UINT {
    GMEM_FIXED = 0x0,
    GMEM_MOVEABLE = 0x2,
    GMEM_ZEROINIT = 0x40,
    GPTR = GMEM_FIXED | GMEM_ZEROINIT,
    GHND = GMEM_MOVEABLE | GMEM_ZEROINIT,
};

// Activation.
enum : DWORD {
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_REMOTE_SERVER = 0x10,
    CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
    CLSCTX_ALL = CLSCTX_SERVER | CLSCTX_INPROC_HANDLER,
};
enum : DWORD { COINIT_MULTITHREADED = 0x0, COINIT_APARTMENTTHREADED = 0x2 };

struct COAUTHINFO;
struct COSERVERINFO {
    DWORD dwReserved1;
    LPWSTR pwszName;
    COAUTHINFO* pAuthInfo;
    DWORD dwReserved2;
};

// Message filters.
typedef void* HTASK;
struct IUnknown;
typedef struct tagINTERFACEINFO {
    IUnknown* pUnk;
    IID iid;
    WORD wMethod;
} INTERFACEINFO, *LPINTERFACEINFO;
enum : DWORD { SERVERCALL_ISHANDLED = 0, SERVERCALL_REJECTED = 1, SERVERCALL_RETRYLATER = 2 };
enum : DWORD {
    PENDINGMSG_CANCELCALL = 0,
    PENDINGMSG_WAITNOPROCESS = 1,
    PENDINGMSG_WAITDEFPROCESS = 2
};
enum : DWORD { PENDINGTYPE_TOPLEVEL = 1, PENDINGTYPE_NESTED = 2 };

struct MULTI_QI {
    const IID* pIID;
    IUnknown* pItf;
    HRESULT hr;
};

struct CONNECTDATA {
    IUnknown* pUnk;
    DWORD dwCookie;
};

struct CATEGORYINFO {
    CATID catid;
    LCID lcid;
    OLECHAR szDescription[128];
};

// Registry.
typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(uintptr_t(0x80000000u));
enum : REGSAM { KEY_QUERY_VALUE = 0x1, KEY_ENUMERATE_SUB_KEYS = 0x8, KEY_READ = 0x20019 };
enum : DWORD { REG_NONE = 0, REG_SZ = 1 };

#include "com/runtime/ComPlatformIntf.h"

// Task memory.
LPVOID CoTaskMemAlloc(SIZE_T cb);
LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
void CoTaskMemFree(LPVOID pv);

// Strings.
BSTR SysAllocString(const OLECHAR* psz);
BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui);
BSTR SysAllocStringByteLen(LPCSTR psz, UINT len);
void SysFreeString(BSTR bstrString);
UINT SysStringLen(BSTR pbstr);
UINT SysStringByteLen(BSTR bstr);

// Variants and arrays.
void VariantInit(VARIANTARG* pvarg);
HRESULT VariantClear(VARIANTARG* pvarg);
HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                          VARTYPE vt);
HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid,
                            USHORT wFlags, VARTYPE vt);
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);
UINT SafeArrayGetDim(SAFEARRAY* psa);
UINT SafeArrayGetElemsize(SAFEARRAY* psa);
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);
HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
HRESULT SafeArrayLock(SAFEARRAY* psa);
HRESULT SafeArrayUnlock(SAFEARRAY* psa);

// Apartments.
HRESULT CoInitialize(LPVOID pvReserved);
HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
void CoUninitialize();
// Replaces the calling thread's message filter (single-threaded apartments only; null removes
// it); the previous one, counted, goes to *previous when asked for.
HRESULT CoRegisterMessageFilter(LPMESSAGEFILTER filter, LPMESSAGEFILTER* previous);

// Activation, identifiers and computers.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv);
HRESULT CoCreateInstanceEx(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsCtx,
                           COSERVERINFO* pServerInfo, DWORD dwCount, MULTI_QI* pResults);
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* pServerInfo,
                         REFIID riid, LPVOID* ppv);
HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid);
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID);
HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz);
HRESULT StringFromIID(REFIID rclsid, LPOLESTR* lplpsz);
int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);

// Registry below the classes root (read access). 8-bit texts are UTF-8, the toolkit's text.
LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   PHKEY phkResult);
LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData);
LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData);
LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPSTR lpClass, LPDWORD lpcchClass, FILETIME* lpftLastWriteTime);
LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPWSTR lpClass, LPDWORD lpcchClass, FILETIME* lpftLastWriteTime);
LONG RegCloseKey(HKEY hKey);

// Global memory and data transfer.
HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
LPVOID GlobalLock(HGLOBAL hMem);
BOOL GlobalUnlock(HGLOBAL hMem);
HGLOBAL GlobalFree(HGLOBAL hMem);
SIZE_T GlobalSize(HGLOBAL hMem);
UINT RegisterClipboardFormatA(LPCSTR lpszFormat);
UINT RegisterClipboardFormatW(LPCWSTR lpszFormat);
void ReleaseStgMedium(STGMEDIUM* pmedium);

// Kernel services.
void GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime);
void Sleep(DWORD dwMilliseconds);
BOOL GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize);
BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize);
BOOL MessageBeep(UINT uType);

#endif  // _WIN32

namespace velqor::com {
// An interface or class identifier of the platform's own GUID type from its text without
// braces, at compile time (the platform's GUID is a different type on Windows).
consteval ::GUID MakeIid(const char (&text)[37]) {
    const GUID g = MakeGuid(text);
    ::GUID r{};
    r.Data1 = g.Data1;
    r.Data2 = g.Data2;
    r.Data3 = g.Data3;
    for (int i = 0; i < 8; ++i) r.Data4[i] = g.Data4[i];
    return r;
}
}  // namespace velqor::com
