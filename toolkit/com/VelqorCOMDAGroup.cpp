// The COM group's life on the server (create, remove, state) and its reads, writes, refreshes
// and cancels.
#include "com/VelqorCOMDAGroup.h"

#include <atomic>

#include "com/VelqorCOMDAGroupCalls.h"

namespace velqor {

using namespace comgroup;

namespace {
std::atomic<uint32_t> g_transactionCounter{0};

// The maximum age that asks for any cached value (OPC DA 3.0 RefreshMaxAge).
constexpr DWORD kAnyCachedValue = 0xFFFFFFFF;
}  // namespace

uint32_t NextTransactionNumber() {
    uint32_t n = g_transactionCounter.fetch_add(1) + 1;
    while (n == 0) n = g_transactionCounter.fetch_add(1) + 1;  // 0 means "none"
    return n;
}

TVelqorCOMGroup::TVelqorCOMGroup(com::ComPtr<IVelqorDAConnection> connection)
    : TVelqorCOMDAComponent(std::move(connection)) {}

TVelqorCOMGroup::~TVelqorCOMGroup() {
    // A group dropped while still on the server (a create that failed half-way) is taken off.
    try {
        int32_t handle = serverHandle_;
        if (groupObject_ || handle != -1) Remove(false, handle);
    } catch (...) {  // the server may be gone already
    }
    DetachSinks(false);
}

// ---- life on the server --------------------------------------------------------------------

void TVelqorCOMGroup::Create(int32_t& serverHandle, const std::string& name, int32_t clientHandle,
                             bool active, float deadBand, int32_t timeBias, int32_t localeId,
                             int32_t& updateRate, bool subscribe, int32_t, int32_t) {
    com::ComPtr<IOPCServer> server = Connection().GetOPCServer();
    if (!server) return;
    serverHandle = -1;
    pendingCancelID_ = 0;
    pendingTransaction_ = 0;
    name_ = name;
    BSTR wideName = ToWideString(name);
    LONG bias = timeBias;
    FLOAT band = deadBand;
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    com::ComPtr<::IUnknown> object;
    const HRESULT hr = server->AddGroup(wideName, active ? TRUE : FALSE, DWORD(updateRate),
                                        OPCHANDLE(clientHandle), &bias, &band, DWORD(localeId),
                                        &handle, &revised, IID_IOPCItemMgt, object.Put());
    SysFreeString(wideName);
    CheckOPCResult(hr);
    groupObject_ = com::QueryAs<IOPCItemMgt>(object);
    if (!groupObject_) {
        server->RemoveGroup(handle, FALSE);  // a group we cannot reach is of no use
        RaiseWrongResult("AddGroup");
    }
    serverHandle = int32_t(handle);
    serverHandle_ = serverHandle;

    stateMgt_ = com::QueryAs<IOPCGroupStateMgt>(groupObject_);
    syncIO2_ = com::QueryAs<IOPCSyncIO2>(groupObject_);
    if (!syncIO2_) syncIO_ = com::QueryAs<IOPCSyncIO>(groupObject_);
    asyncIO3_ = com::QueryAs<IOPCAsyncIO3>(groupObject_);
    if (!asyncIO3_) asyncIO2_ = com::QueryAs<IOPCAsyncIO2>(groupObject_);
    if (!asyncIO3_ && !asyncIO2_) asyncIO_ = com::QueryAs<IOPCAsyncIO>(groupObject_);
    updateRate = int32_t(revised);
    // The sinks check the group's client handle from their first callback on.
    clientGroupHandle_ = clientHandle;

    if (!subscribe) return;
    if (Connection().HasConnectionPoints()) {
        dataCallback_ = com::MakeObject<TVelqorDataCallback>(this);
        if (FAILED(dataCallback_->Advise(groupObject_.Get()))) {
            dataCallback_->Detach();
            dataCallback_.Reset();
        }
    }
    if (dataCallback_) return;
    adviseSink_ = com::MakeObject<TVelqorAdviseSink>(this);
    const HRESULT advised = adviseSink_->Advise(groupObject_.Get());
    if (FAILED(advised)) {
        adviseSink_->Detach();
        adviseSink_.Reset();
        throw EOleSysError(advised);
    }
}

void TVelqorCOMGroup::ReleaseInterfaces() {
    syncIO_.Reset();
    syncIO2_.Reset();
    asyncIO_.Reset();
    asyncIO2_.Reset();
    asyncIO3_.Reset();
    stateMgt_.Reset();
}

void TVelqorCOMGroup::DetachSinks(bool unadvise) {
    if (dataCallback_) {
        dataCallback_->Detach();
        if (unadvise && groupObject_ && SUCCEEDED(dataCallback_->AdviseResult()))
            UnadviseConnectionPoint(groupObject_.Get(), IID_IOPCDataCallback,
                                    dataCallback_->Cookie());
        dataCallback_.Reset();
    }
    if (adviseSink_) {
        adviseSink_->Detach();
        if (unadvise && groupObject_) adviseSink_->Unadvise(groupObject_.Get());
        adviseSink_.Reset();
    }
}

void TVelqorCOMGroup::Remove(bool serverShutDown, int32_t& serverHandle) {
    ReleaseInterfaces();
    try {
        DetachSinks(!serverShutDown);
    } catch (...) {  // errors of the unadvise are of no consequence here
    }
    groupObject_.Reset();
    if (serverShutDown) serverHandle = -1;
    if (serverHandle != -1) {
        if (com::ComPtr<IOPCServer> server = Connection().GetOPCServer())
            server->RemoveGroup(OPCHANDLE(serverHandle), FALSE);
    }
    serverHandle = -1;
    serverHandle_ = -1;
    clientGroupHandle_ = -1;
    pendingCancelID_ = 0;
    pendingTransaction_ = 0;
}

void TVelqorCOMGroup::Reserved() {}

void TVelqorCOMGroup::SetName(const std::string& name) {
    if (!stateMgt_) return;
    BSTR wide = ToWideString(name);
    const HRESULT hr = stateMgt_->SetName(wide);
    SysFreeString(wide);
    CheckOPCResult(hr);
    name_ = name;
}

void TVelqorCOMGroup::GetState(tVelqorGroupStateRec& state) {
    if (!stateMgt_) throw EOleSysError(E_NOINTERFACE);
    DWORD rate = 0, locale = 0;
    BOOL active = FALSE;
    LPWSTR name = nullptr;
    LONG bias = 0;
    FLOAT band = 0;
    OPCHANDLE client = 0, server = 0;
    const HRESULT hr =
        stateMgt_->GetState(&rate, &active, &name, &bias, &band, &locale, &client, &server);
    const std::string text = OleStrToText(name);
    CoTaskMemFree(name);
    CheckOPCResult(hr);
    state.UpdateRate = int32_t(rate);
    state.Active = active != FALSE;
    state.Name = text;
    state.TimeBias = bias;
    state.DeadBand = band;
    state.LocaleId = int32_t(locale);
    state.ClientHandle = int32_t(client);
    state.ServerHandle = int32_t(server);
    state.HoldTime = 0;
    state.WaitTime = 0;
}

void TVelqorCOMGroup::SetState(int32_t& updateRate, bool active, int32_t timeBias, float deadBand,
                               int32_t localeId, int32_t clientHandle, int32_t, int32_t) {
    if (!stateMgt_) return;
    DWORD requested = DWORD(updateRate), revised = 0, locale = DWORD(localeId);
    BOOL on = active ? TRUE : FALSE;
    LONG bias = timeBias;
    FLOAT band = deadBand;
    OPCHANDLE client = OPCHANDLE(clientHandle);
    CheckOPCResult(stateMgt_->SetState(&requested, &revised, &on, &bias, &band, &locale, &client));
    updateRate = int32_t(revised);
    clientGroupHandle_ = clientHandle;
}

// ---- transactions ---------------------------------------------------------------------------

int TVelqorCOMGroup::Generation() const {
    if (asyncIO3_) return 3;
    if (asyncIO2_) return 2;
    return asyncIO_ ? 1 : 0;
}

void TVelqorCOMGroup::NoteTransaction(uint32_t number) {
    if (number != 0) answeredInCall_ = number;
    if (number != 0 && number == pendingTransaction_) {
        pendingTransaction_ = 0;
        pendingCancelID_ = 0;
    }
}

DWORD TVelqorCOMGroup::RequireAdviseConnection(bool forWrite) const {
    if (!adviseSink_ || adviseSink_->Connection() == 0)
        throw EOPCGroupException(MsgFormat(Msg::NoAdviseConnection, name_));
    return forWrite ? adviseSink_->WriteConnection() : adviseSink_->Connection();
}

void TVelqorCOMGroup::BeginTransaction() {
    pendingCancelID_ = 0;
    pendingTransaction_ = 0;
    answeredInCall_ = 0;
}

void TVelqorCOMGroup::EndTransaction(HRESULT hr, uint32_t transaction, DWORD cancelID) {
    if (FAILED(hr)) return;
    // DA 1.0 completions carry the server's transaction ID, later ones the client's number.
    const uint32_t number = Generation() == 1 ? uint32_t(cancelID) : transaction;
    // A completion may arrive before the call that asked for it returns (while an outgoing
    // call waits, the apartment takes incoming calls): the request is no longer pending then.
    if (number != 0 && answeredInCall_ == number) return;
    pendingCancelID_ = int32_t(cancelID);
    pendingTransaction_ = number;
}

// ---- reads and writes -----------------------------------------------------------------------

bool TVelqorCOMGroup::ReadSync(TVelqorItemList& items, bool fromCache) {
    IOPCSyncIO* sync = syncIO2_ ? syncIO2_.Get() : syncIO_.Get();
    if (!sync || items.Empty()) return false;
    std::vector<OPCHANDLE> handles = ServerHandles(items);
    TaskArray<OPCITEMSTATE> states;
    TaskArray<HRESULT> errors;
    const HRESULT hr = sync->Read(fromCache ? OPC_DS_CACHE : OPC_DS_DEVICE, DWORD(handles.size()),
                                  handles.data(), states.Put(), errors.Put());
    struct ClearStates {  // the values are the caller's to clear, whatever happens
        TaskArray<OPCITEMSTATE>& s;
        size_t n;
        ~ClearStates() {
            if (s)
                for (size_t i = 0; i < n; ++i) VariantClear(&s[i].vDataValue);
        }
    } clear{states, handles.size()};
    CheckOPCResult(hr);
    if (!states || !errors) RaiseWrongResult("Read");
    TItemResults results;
    for (int i = 0; i < items.Count(); ++i) {
        const OPCITEMSTATE& s = states[size_t(i)];
        const HRESULT e = errors[size_t(i)];
        if (FAILED(e)) {
            results.Failed(*items[i], e);
            continue;
        }
        try {
            ItemUpdate u;
            u.Value = VariantFromOle(s.vDataValue);
            u.Fields = ItemUpdate::kValue | ItemUpdate::kQuality | ItemUpdate::kTimeStamp |
                       ItemUpdate::kLearnCanonical;
            u.Quality = s.wQuality;
            u.TimeStamp = FileTimeToLocalDateTime(s.ftTimeStamp);
            results.Read(*items[i], std::move(u));
        } catch (const EOleSysError& bad) {  // a value this side cannot hold
            results.Failed(*items[i], bad.ErrorCode(), bad.what());
        }
    }
    return results.AllSucceeded();
}

bool TVelqorCOMGroup::WriteSync(TVelqorItemList& items) {
    if (syncIO2_) return WriteVQT(items, false);
    if (!syncIO_ || items.Empty()) return false;
    std::vector<OPCHANDLE> handles = ServerHandles(items);
    OleValues values(handles.size());
    for (int i = 0; i < items.Count(); ++i) VariantToOle(items[i]->WriteValue(), values[size_t(i)]);
    TaskArray<HRESULT> errors;
    CheckOPCResult(
        syncIO_->Write(DWORD(handles.size()), handles.data(), values.Data(), errors.Put()));
    if (!errors) RaiseWrongResult("Write");
    TItemResults results;
    for (int i = 0; i < items.Count(); ++i) {
        const HRESULT e = errors[size_t(i)];
        if (FAILED(e))
            results.Failed(*items[i], e);
        else
            results.Written(*items[i]);
    }
    return results.AllSucceeded();
}

bool TVelqorCOMGroup::AcceptedAtOnce(TVelqorItemList& items, HRESULT hr, const HRESULT* errors,
                                     bool write) {
    // A server that accepted the request without the array leaves nothing to say per item.
    if (!errors) return hr == S_OK;
    const int failures = ApplyItemErrors(items, errors, true);
    if (write && failures > 0) {  // no completion comes for these: they are reported now
        std::vector<ItemUpdate> refused;
        for (int i = 0; i < items.Count(); ++i)
            if (FAILED(errors[i]))
                refused.push_back(ItemOutcome(items[i]->ClientHandle(), errors[i]));
        PostWriteOutcome(Connection().NotifyWindow(), std::move(refused));
    }
    return failures == 0;
}

bool TVelqorCOMGroup::WriteVQT(TVelqorItemList& items, bool async) {
    if (items.Empty()) return false;
    std::vector<OPCHANDLE> handles = ServerHandles(items);
    std::vector<OPCITEMVQT> vqts(handles.size());
    struct ClearValues {
        std::vector<OPCITEMVQT>& v;
        ~ClearValues() {
            for (OPCITEMVQT& q : v) VariantClear(&q.vDataValue);
        }
    } clear{vqts};
    for (int i = 0; i < items.Count(); ++i) {
        const TVelqorItemData& item = *items[i];
        OPCITEMVQT& q = vqts[size_t(i)];
        VariantInit(&q.vDataValue);
        VariantToOle(item.WriteValue(), q.vDataValue);
        q.bQualitySpecified = item.FWriteQuality >= 0 ? TRUE : FALSE;
        q.wQuality = WORD(item.FWriteQuality & 0xFFFF);
        q.bTimeStampSpecified = item.FWriteTimeStamp > 0 ? TRUE : FALSE;
        q.ftTimeStamp = LocalDateTimeToFileTime(item.FWriteTimeStamp);
    }
    TaskArray<HRESULT> errors;
    HRESULT hr;
    BeginTransaction();
    if (async) {
        const uint32_t transaction = NextTransactionNumber();
        DWORD cancelID = 0;
        hr = asyncIO3_->WriteVQT(DWORD(handles.size()), handles.data(), vqts.data(), transaction,
                                 &cancelID, errors.Put());
        EndTransaction(hr, transaction, cancelID);
    } else {
        hr = syncIO2_->WriteVQT(DWORD(handles.size()), handles.data(), vqts.data(), errors.Put());
    }
    CheckOPCResult(hr);
    if (async) return AcceptedAtOnce(items, hr, errors.Get(), true);
    if (!errors) RaiseWrongResult("WriteVQT");
    return ApplyItemErrors(items, errors.Get(), true) == 0;
}

bool TVelqorCOMGroup::WriteAsync(TVelqorItemList& items) {
    if (asyncIO3_) return WriteVQT(items, true);
    if ((!asyncIO2_ && !asyncIO_) || items.Empty()) return false;
    const DWORD connection = asyncIO2_ ? 0 : RequireAdviseConnection(true);
    std::vector<OPCHANDLE> handles = ServerHandles(items);
    OleValues values(handles.size());
    for (int i = 0; i < items.Count(); ++i) VariantToOle(items[i]->WriteValue(), values[size_t(i)]);
    TaskArray<HRESULT> errors;
    const uint32_t transaction = NextTransactionNumber();
    DWORD cancelID = 0;
    BeginTransaction();
    const HRESULT hr = asyncIO2_
                           ? asyncIO2_->Write(DWORD(handles.size()), handles.data(), values.Data(),
                                              transaction, &cancelID, errors.Put())
                           : asyncIO_->Write(connection, DWORD(handles.size()), handles.data(),
                                             values.Data(), &cancelID, errors.Put());
    EndTransaction(hr, transaction, cancelID);
    CheckOPCResult(hr);
    return AcceptedAtOnce(items, hr, errors.Get(), true);
}

bool TVelqorCOMGroup::ReadAsync(TVelqorItemList& items) {
    IOPCAsyncIO2* async2 = asyncIO3_ ? asyncIO3_.Get() : asyncIO2_.Get();
    if ((!async2 && !asyncIO_) || items.Empty()) return false;
    const DWORD connection = async2 ? 0 : RequireAdviseConnection(false);
    std::vector<OPCHANDLE> handles = ServerHandles(items);
    TaskArray<HRESULT> errors;
    const uint32_t transaction = NextTransactionNumber();
    DWORD cancelID = 0;
    BeginTransaction();
    const HRESULT hr = async2 ? async2->Read(DWORD(handles.size()), handles.data(), transaction,
                                             &cancelID, errors.Put())
                              : asyncIO_->Read(connection, OPC_DS_DEVICE, DWORD(handles.size()),
                                               handles.data(), &cancelID, errors.Put());
    EndTransaction(hr, transaction, cancelID);
    CheckOPCResult(hr);
    return AcceptedAtOnce(items, hr, errors.Get(), false);
}

void TVelqorCOMGroup::Refresh(bool fromCache) {
    if (!asyncIO3_ && !asyncIO2_ && !asyncIO_) return;
    const OPCDATASOURCE source = fromCache ? OPC_DS_CACHE : OPC_DS_DEVICE;
    const DWORD connection = (asyncIO3_ || asyncIO2_) ? 0 : RequireAdviseConnection(false);
    const uint32_t transaction = NextTransactionNumber();
    DWORD cancelID = 0;
    BeginTransaction();
    HRESULT hr;
    if (asyncIO3_)
        hr = asyncIO3_->RefreshMaxAge(fromCache ? kAnyCachedValue : 0, transaction, &cancelID);
    else if (asyncIO2_)
        hr = asyncIO2_->Refresh2(source, transaction, &cancelID);
    else
        hr = asyncIO_->Refresh(connection, source, &cancelID);
    EndTransaction(hr, transaction, cancelID);
    CheckOPCResult(hr);
}

void TVelqorCOMGroup::Cancel() {
    IOPCAsyncIO2* async2 = asyncIO3_ ? asyncIO3_.Get() : asyncIO2_.Get();
    if (pendingCancelID_ == 0 || (!async2 && !asyncIO_)) return;
    const DWORD id = DWORD(pendingCancelID_);
    pendingCancelID_ = 0;
    pendingTransaction_ = 0;
    CheckOPCResult(async2 ? async2->Cancel2(id) : asyncIO_->Cancel(id));
}

}  // namespace velqor
