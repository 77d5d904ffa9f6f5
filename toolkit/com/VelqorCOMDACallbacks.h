// The data sinks of a COM group: TVelqorDataCallback (IOPCDataCallback, DA 2.0 and 3.0 servers)
// and TVelqorAdviseSink (IAdviseSink receiving DA 1.0 data streams). A server calls them on the
// owning thread; they decode what it delivered and post it to the connection's notify window
// as the contract's messages, the values inside the message (ItemUpdatesPayload, keyed by the
// items' client handles): the component model applies them to the items that still exist.
// Handles of no live item are skipped. A sink never raises out of a callback.
//
//   data change / read completion -> WM_VELQOR_DATACHANGE, wParam the group's client handle
//   write completion (a callback, or  -> WM_VELQOR_WRITECOMPLETE, or WM_VELQOR_WRITEERROR when an
//   a DA 1.0 write-complete stream)     item failed (that item's quality becomes bad)
//
// A sink knows its group without counting it; the group detaches its sinks when it is removed
// or destroyed, and a detached sink posts nothing (a DA 1.0 sink beeps, as a reminder that a
// server still sends to a group that is gone).
#pragma once

#include <cstdint>
#include <string>

#include "com/OpcDaIntf.h"
#include "com/runtime/PlatformObject.h"

namespace velqor {

class TVelqorCOMGroup;

// The clipboard formats of DA 1.0 streams, registered once per process.
struct TStreamFormats {
    UINT Data = 0;           // "OPCSTMFORMATDATA"
    UINT DataTime = 0;       // "OPCSTMFORMATDATATIME"
    UINT WriteComplete = 0;  // "OPCSTMFORMATWRITECOMPLETE"
};
const TStreamFormats& StreamFormats();

class TVelqorDataCallback : public com::PlatformObject<IOPCDataCallback> {
  public:
    explicit TVelqorDataCallback(TVelqorCOMGroup* group) : group_(group) {}

    // Advises the sink on the group object's IOPCDataCallback connection point.
    HRESULT Advise(::IUnknown* groupObject);
    void Detach() { group_ = nullptr; }
    DWORD Cookie() const { return cookie_; }
    HRESULT AdviseResult() const { return adviseResult_; }

    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD transid, OPCHANDLE group, HRESULT masterQuality,
                                           HRESULT masterError, DWORD count, OPCHANDLE* handles,
                                           VARIANT* values, WORD* qualities, FILETIME* times,
                                           HRESULT* errors) override;
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD transid, OPCHANDLE group, HRESULT masterQuality,
                                             HRESULT masterError, DWORD count, OPCHANDLE* handles,
                                             VARIANT* values, WORD* qualities, FILETIME* times,
                                             HRESULT* errors) override;
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD transid, OPCHANDLE group, HRESULT masterError,
                                              DWORD count, OPCHANDLE* handles,
                                              HRESULT* errors) override;
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD transid, OPCHANDLE group) override;

  private:
    // The group when the callback is for it (a live group with that client handle), else null.
    TVelqorCOMGroup* For(OPCHANDLE group) const;
    HRESULT Deliver(const char* method, DWORD transid, OPCHANDLE group, DWORD count,
                    OPCHANDLE* handles, VARIANT* values, WORD* qualities, FILETIME* times,
                    HRESULT* errors);
    void PostValues(const char* method, OPCHANDLE group, DWORD count, const OPCHANDLE* handles,
                    VARIANT* values, const WORD* qualities, const FILETIME* times,
                    const HRESULT* errors);

    TVelqorCOMGroup* group_;  // not counted
    DWORD cookie_ = 0;
    HRESULT adviseResult_ = E_FAIL;
};

class TVelqorAdviseSink : public com::PlatformObject<IAdviseSink> {
  public:
    explicit TVelqorAdviseSink(TVelqorCOMGroup* group) : group_(group) {}

    // IDataObject::DAdvise on the group object for time-stamped data streams (its result), and
    // for write-complete streams.
    HRESULT Advise(::IUnknown* groupObject);
    // DUnadvise of both; errors ignored.
    void Unadvise(::IUnknown* groupObject);
    void Detach() { group_ = nullptr; }
    // The advise connection the DA 1.0 reads and refreshes name; 0 when the advise failed.
    DWORD Connection() const { return connection_; }
    // The one writes name: the write-complete advise, else the data advise.
    DWORD WriteConnection() const { return writeConnection_ ? writeConnection_ : connection_; }
    HRESULT AdviseResult() const { return adviseResult_; }

    void STDMETHODCALLTYPE OnDataChange(FORMATETC* format, STGMEDIUM* medium) override;
    void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
    void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
    void STDMETHODCALLTYPE OnSave() override {}
    void STDMETHODCALLTYPE OnClose() override {}

  private:
    // A data stream that cannot be read: the group's active items go bad with the error.
    void PostUnreadableStream();
    void WriteCompleted(HGLOBAL block);

    TVelqorCOMGroup* group_;  // not counted
    DWORD connection_ = 0;
    DWORD writeConnection_ = 0;
    HRESULT adviseResult_ = E_FAIL;
};

}  // namespace velqor
