// The platform's COM interfaces the toolkit uses, in the platform's method order, with their
// identifiers. Included by ComPlatform.h (not on Windows, whose own headers declare them) in the
// middle, after the types these declarations use; included on its own, it brings ComPlatform.h,
// which includes it at that point.
#include "com/runtime/ComPlatform.h"

#ifndef VELQOR_COM_PLATFORM_INTF_H
#define VELQOR_COM_PLATFORM_INTF_H

#define VELQOR_PLATFORM_IID(name, text) inline constexpr IID name = velqor::com::MakeGuid(text)

VELQOR_PLATFORM_IID(IID_IUnknown, "00000000-0000-0000-C000-000000000046");
VELQOR_PLATFORM_IID(IID_IClassFactory, "00000001-0000-0000-C000-000000000046");
VELQOR_PLATFORM_IID(IID_IEnumUnknown, "00000100-0000-0000-C000-000000000046");
VELQOR_PLATFORM_IID(IID_IEnumString, "00000101-0000-0000-C000-000000000046");
VELQOR_PLATFORM_IID(IID_IEnumFORMATETC, "00000103-0000-0000-C000-000000000046");
VELQOR_PLATFORM_IID(IID_IEnumSTATDATA, "00000105-0000-0000-C000-000000000046");
VELQOR_PLATFORM_IID(IID_IMessageFilter, "00000016-0000-0000-C000-000000000046");
VELQOR_PLATFORM_IID(IID_IDataObject, "0000010E-0000-0000-C000-000000000046");
VELQOR_PLATFORM_IID(IID_IAdviseSink, "0000010F-0000-0000-C000-000000000046");
VELQOR_PLATFORM_IID(IID_IGlobalInterfaceTable, "00000146-0000-0000-C000-000000000046");
VELQOR_PLATFORM_IID(IID_IDispatch, "00020400-0000-0000-C000-000000000046");
VELQOR_PLATFORM_IID(IID_IEnumGUID, "0002E000-0000-0000-C000-000000000046");
VELQOR_PLATFORM_IID(IID_IEnumCATEGORYINFO, "0002E011-0000-0000-C000-000000000046");
VELQOR_PLATFORM_IID(IID_ICatInformation, "0002E013-0000-0000-C000-000000000046");
VELQOR_PLATFORM_IID(IID_IConnectionPointContainer, "B196B284-BAB4-101A-B69C-00AA00341D07");
VELQOR_PLATFORM_IID(IID_IEnumConnectionPoints, "B196B285-BAB4-101A-B69C-00AA00341D07");
VELQOR_PLATFORM_IID(IID_IConnectionPoint, "B196B286-BAB4-101A-B69C-00AA00341D07");
VELQOR_PLATFORM_IID(IID_IEnumConnections, "B196B287-BAB4-101A-B69C-00AA00341D07");
VELQOR_PLATFORM_IID(CLSID_StdGlobalInterfaceTable, "00000323-0000-0000-C000-000000000046");
VELQOR_PLATFORM_IID(CLSID_StdComponentCategoriesMgr, "0002E005-0000-0000-C000-000000000046");
inline constexpr const IID& IID_IEnumCLSID = IID_IEnumGUID;
inline constexpr const IID& IID_IEnumCATID = IID_IEnumGUID;

#undef VELQOR_PLATFORM_IID

// Interfaces are released, never deleted: their destructors are protected and not virtual, as
// on the platform (no destructor entry in the method table).
struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

  protected:
    ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;

// The apartment's say over calls: asked while an outgoing call waits for its answer
// (MessagePending, with the milliseconds since the call started) and when a server rejected a
// call (RetryRejectedCall). Registered per thread with CoRegisterMessageFilter.
struct IMessageFilter : IUnknown {
    virtual DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD dwCallType, HTASK htaskCaller,
                                                       DWORD dwTickCount,
                                                       LPINTERFACEINFO lpInterfaceInfo) = 0;
    virtual DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK htaskCallee, DWORD dwTickCount,
                                                      DWORD dwRejectType) = 0;
    virtual DWORD STDMETHODCALLTYPE MessagePending(HTASK htaskCallee, DWORD dwTickCount,
                                                   DWORD dwPendingType) = 0;

  protected:
    ~IMessageFilter() = default;
};
typedef IMessageFilter* LPMESSAGEFILTER;

struct IClassFactory : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                     void** ppvObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;

  protected:
    ~IClassFactory() = default;
};

struct IEnumUnknown : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, IUnknown** rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumUnknown** ppenum) = 0;

  protected:
    ~IEnumUnknown() = default;
};

struct IEnumString : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumString** ppenum) = 0;

  protected:
    ~IEnumString() = default;
};

struct IEnumGUID : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, GUID* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumGUID** ppenum) = 0;

  protected:
    ~IEnumGUID() = default;
};
typedef IEnumGUID IEnumCLSID;
typedef IEnumGUID IEnumCATID;

struct IEnumCATEGORYINFO : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, CATEGORYINFO* rgelt,
                                           ULONG* pceltFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumCATEGORYINFO** ppenum) = 0;

  protected:
    ~IEnumCATEGORYINFO() = default;
};

struct ICatInformation : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE EnumCategories(LCID lcid,
                                                     IEnumCATEGORYINFO** ppenumCategoryInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCategoryDesc(REFCATID rcatid, LCID lcid,
                                                      LPWSTR* pszDesc) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG cImplemented,
                                                              const CATID rgcatidImpl[],
                                                              ULONG cRequired,
                                                              const CATID rgcatidReq[],
                                                              IEnumGUID** ppenumClsid) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsClassOfCategories(REFCLSID rclsid, ULONG cImplemented,
                                                          const CATID rgcatidImpl[],
                                                          ULONG cRequired,
                                                          const CATID rgcatidReq[]) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumImplCategoriesOfClass(REFCLSID rclsid,
                                                                IEnumGUID** ppenumCatid) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumReqCategoriesOfClass(REFCLSID rclsid,
                                                               IEnumGUID** ppenumCatid) = 0;

  protected:
    ~ICatInformation() = default;
};

struct IConnectionPointContainer;

struct IEnumConnections : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG cConnections, CONNECTDATA* rgcd,
                                           ULONG* pcFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cConnections) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumConnections** ppEnum) = 0;

  protected:
    ~IEnumConnections() = default;
};

struct IConnectionPoint : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* pIID) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    GetConnectionPointContainer(IConnectionPointContainer** ppCPC) = 0;
    virtual HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** ppEnum) = 0;

  protected:
    ~IConnectionPoint() = default;
};

struct IEnumConnectionPoints : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG cConnections, IConnectionPoint** ppCP,
                                           ULONG* pcFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cConnections) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** ppEnum) = 0;

  protected:
    ~IEnumConnectionPoints() = default;
};

struct IConnectionPointContainer : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) = 0;

  protected:
    ~IConnectionPointContainer() = default;
};

struct IGlobalInterfaceTable : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE RegisterInterfaceInGlobal(IUnknown* pUnk, REFIID riid,
                                                                DWORD* pdwCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE RevokeInterfaceFromGlobal(DWORD dwCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInterfaceFromGlobal(DWORD dwCookie, REFIID riid,
                                                             void** ppv) = 0;

  protected:
    ~IGlobalInterfaceTable() = default;
};

struct IAdviseSink : IUnknown {
    virtual void STDMETHODCALLTYPE OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) = 0;
    virtual void STDMETHODCALLTYPE OnViewChange(DWORD dwAspect, LONG lindex) = 0;
    virtual void STDMETHODCALLTYPE OnRename(IMoniker* pmk) = 0;
    virtual void STDMETHODCALLTYPE OnSave() = 0;
    virtual void STDMETHODCALLTYPE OnClose() = 0;

  protected:
    ~IAdviseSink() = default;
};

struct STATDATA {
    FORMATETC formatetc;
    DWORD advf;
    IAdviseSink* pAdvSink;
    DWORD dwConnection;
};

struct IEnumFORMATETC : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, FORMATETC* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumFORMATETC** ppenum) = 0;

  protected:
    ~IEnumFORMATETC() = default;
};

struct IEnumSTATDATA : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, STATDATA* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumSTATDATA** ppenum) = 0;

  protected:
    ~IEnumSTATDATA() = default;
};

struct IDataObject : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC* pformatetc, STGMEDIUM* pmedium) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* pformatetc) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC* pformatectIn,
                                                            FORMATETC* pformatetcOut) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetData(FORMATETC* pformatetc, STGMEDIUM* pmedium,
                                              BOOL fRelease) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD dwDirection,
                                                    IEnumFORMATETC** ppenumFormatEtc) = 0;
    virtual HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC* pformatetc, DWORD advf,
                                              IAdviseSink* pAdvSink, DWORD* pdwConnection) = 0;
    virtual HRESULT STDMETHODCALLTYPE DUnadvise(DWORD dwConnection) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA** ppenumAdvise) = 0;

  protected:
    ~IDataObject() = default;
};

#endif  // VELQOR_COM_PLATFORM_INTF_H
