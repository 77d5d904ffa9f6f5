// A small object with the string methods of the OPC interfaces: it records every string it is
// given and answers with strings of its own, so that a caller in another apartment can check
// what the proxy/stub DLL carried each way.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "com/OpcDaIntf.h"

namespace velqor::test {

class StringServer
    : public com::PlatformObject<IOPCCommon, IOPCServer, IOPCBrowseServerAddressSpace,
                                 IOPCGroupStateMgt, IOPCItemProperties, IOPCBrowse, IOPCItemIO,
                                 IOPCServerList2> {
  public:
    // The strings given in the last call, in parameter order (NULL shows as "(null)").
    std::vector<std::wstring> Seen();

    // IOPCCommon
    HRESULT STDMETHODCALLTYPE SetLocaleID(LCID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD*, LCID**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT error, LPWSTR* text) override;
    HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR name) override;
    // IOPCServer
    HRESULT STDMETHODCALLTYPE AddGroup(LPCWSTR, BOOL, DWORD, OPCHANDLE, LONG*, FLOAT*, DWORD,
                                       OPCHANDLE*, DWORD*, REFIID, LPUNKNOWN*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT error, LCID, LPWSTR* text) override;
    HRESULT STDMETHODCALLTYPE GetGroupByName(LPCWSTR, REFIID, LPUNKNOWN*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveGroup(OPCHANDLE, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateGroupEnumerator(OPCENUMSCOPE, REFIID, LPUNKNOWN*) override {
        return E_NOTIMPL;
    }
    // IOPCBrowseServerAddressSpace
    HRESULT STDMETHODCALLTYPE QueryOrganization(OPCNAMESPACETYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCBROWSEDIRECTION, LPCWSTR) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE BrowseOPCItemIDs(OPCBROWSETYPE, LPCWSTR, VARTYPE, DWORD,
                                               IEnumString**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetItemID(LPWSTR dataID, LPWSTR* itemID) override;
    HRESULT STDMETHODCALLTYPE BrowseAccessPaths(LPCWSTR, IEnumString**) override {
        return E_NOTIMPL;
    }
    // IOPCGroupStateMgt
    HRESULT STDMETHODCALLTYPE GetState(DWORD* rate, BOOL* active, LPWSTR* name, LONG* bias,
                                       FLOAT* deadband, DWORD* lcid, OPCHANDLE* client,
                                       OPCHANDLE* server) override;
    HRESULT STDMETHODCALLTYPE SetState(DWORD*, DWORD*, BOOL*, LONG*, FLOAT*, DWORD*,
                                       OPCHANDLE*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetName(LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE CloneGroup(LPCWSTR, REFIID, LPUNKNOWN*) override { return E_NOTIMPL; }
    // IOPCItemProperties
    HRESULT STDMETHODCALLTYPE QueryAvailableProperties(LPWSTR itemID, DWORD* count, DWORD** ids,
                                                       LPWSTR** descriptions,
                                                       VARTYPE** types) override;
    HRESULT STDMETHODCALLTYPE GetItemProperties(LPWSTR, DWORD, DWORD*, VARIANT**,
                                                HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE LookupItemIDs(LPWSTR itemID, DWORD count, DWORD* ids,
                                            LPWSTR** newItemIDs, HRESULT** errors) override;
    // IOPCBrowse
    HRESULT STDMETHODCALLTYPE GetProperties(DWORD count, LPWSTR* itemIDs, BOOL, DWORD, DWORD*,
                                            OPCITEMPROPERTIES** properties) override;
    HRESULT STDMETHODCALLTYPE Browse(LPWSTR itemID, LPWSTR* continuation, DWORD, OPCBROWSEFILTER,
                                     LPWSTR nameFilter, LPWSTR vendorFilter, BOOL, BOOL, DWORD,
                                     DWORD*, BOOL* more, DWORD* count,
                                     OPCBROWSEELEMENT** elements) override;
    // IOPCItemIO
    HRESULT STDMETHODCALLTYPE Read(DWORD count, LPCWSTR* itemIDs, DWORD*, VARIANT** values,
                                   WORD** qualities, FILETIME** times, HRESULT** errors) override;
    HRESULT STDMETHODCALLTYPE WriteVQT(DWORD count, LPCWSTR* itemIDs, OPCITEMVQT*,
                                       HRESULT** errors) override;
    // IOPCServerList2
    HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG, CATID[], ULONG, CATID[],
                                                      IOPCEnumGUID**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetClassDetails(REFCLSID, LPOLESTR* progID, LPOLESTR* userType,
                                              LPOLESTR* verIndProgID) override;
    HRESULT STDMETHODCALLTYPE CLSIDFromProgID(LPCOLESTR progID, LPCLSID clsid) override;

  private:
    void Record(std::vector<std::wstring> strings);
    std::mutex mu_;
    std::vector<std::wstring> seen_;  // guarded by mu_
};

// A copy of text in task memory, as an [out] string is handed over.
LPWSTR TaskString(const wchar_t* text);

}  // namespace velqor::test
