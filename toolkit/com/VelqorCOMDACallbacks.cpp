#include "com/VelqorCOMDACallbacks.h"

#include <memory>
#include <vector>

#include "com/VelqorCOMDAGroup.h"
#include "com/VelqorCOMDAStream.h"
#include "contract/VelqorError.h"
#include "contract/VelqorItemResults.h"

namespace velqor {

const TStreamFormats& StreamFormats() {
    static const TStreamFormats formats{RegisterClipboardFormatA("OPCSTMFORMATDATA"),
                                        RegisterClipboardFormatA("OPCSTMFORMATDATATIME"),
                                        RegisterClipboardFormatA("OPCSTMFORMATWRITECOMPLETE")};
    return formats;
}

namespace {

// The update of an item whose part of a callback is missing or unreadable: bad, with the error.
ItemUpdate Malformed(uint32_t handle, int32_t error, std::string detail) {
    ItemUpdate u = FailureUpdate(error, std::move(detail));
    u.ClientHandle = handle;
    return u;
}

void Post(TVelqorCOMGroup& group, uint32_t message, uintptr_t wParam,
          std::unique_ptr<ItemUpdatesPayload> payload) {
    if (const NotifyWindow& window = group.Connection().NotifyWindow())
        window->Post(message, wParam, std::move(payload));
}

void PostWriteResults(TVelqorCOMGroup& group, std::vector<ItemUpdate> results) {
    PostWriteOutcome(group.Connection().NotifyWindow(), std::move(results));
}

}  // namespace

// ---- IOPCDataCallback ---------------------------------------------------------------------

HRESULT TVelqorDataCallback::Advise(::IUnknown* groupObject) {
    adviseResult_ = E_FAIL;
    try {
        adviseResult_ =
            AdviseConnectionPoint(groupObject, IID_IOPCDataCallback, ControllingUnknown(), cookie_);
    } catch (const EOleSysError& e) {
        adviseResult_ = e.ErrorCode();
    }
    if (FAILED(adviseResult_)) cookie_ = 0;
    return adviseResult_;
}

TVelqorCOMGroup* TVelqorDataCallback::For(OPCHANDLE group) const {
    if (!group_ || !group_->HasGroupObject()) return nullptr;
    return OPCHANDLE(group_->ClientGroupHandle()) == group ? group_ : nullptr;
}

void TVelqorDataCallback::PostValues(const char* method, OPCHANDLE group, DWORD count,
                                     const OPCHANDLE* handles, VARIANT* values,
                                     const WORD* qualities, const FILETIME* times,
                                     const HRESULT* errors) {
    if (count > 0 && !handles) return;  // nothing names the items: nothing to report
    const bool complete = count == 0 || (values && qualities && times && errors);
    auto payload = std::make_unique<ItemUpdatesPayload>();
    payload->Items.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        const uint32_t handle = handles[i];
        const bool known = FindItemByClientHandle(handle) != nullptr;
        if (!complete) {
            if (known)
                payload->Items.push_back(
                    Malformed(handle, kMalformedAnswer, MsgFormat(Msg::WrongResult, method)));
            continue;
        }
        if (!known) {
            VariantClear(&values[i]);
            continue;
        }
        ItemUpdate& u = payload->Items.emplace_back();
        u.ClientHandle = handle;
        try {
            u.Value = VariantFromOle(values[i]);
        } catch (const EOleSysError& e) {
            u = Malformed(handle, e.ErrorCode(), e.what());
            VariantClear(&values[i]);
            continue;
        }
        VariantClear(&values[i]);
        u.Fields = ItemUpdate::kValue | ItemUpdate::kQuality | ItemUpdate::kTimeStamp |
                   ItemUpdate::kError | ItemUpdate::kCountUpdate | ItemUpdate::kLearnCanonical;
        u.Quality = qualities[i];
        u.TimeStamp = FileTimeToLocalDateTime(times[i]);
        u.Error = errors[i];
    }
    Post(*group_, WM_VELQOR_DATACHANGE, uintptr_t(int32_t(group)), std::move(payload));
}

// Values of a data change or a completed read: the transaction is noted and the values posted.
HRESULT TVelqorDataCallback::Deliver(const char* method, DWORD transid, OPCHANDLE group,
                                     DWORD count, OPCHANDLE* handles, VARIANT* values,
                                     WORD* qualities, FILETIME* times, HRESULT* errors) {
    try {
        TVelqorCOMGroup* g = For(group);
        if (!g) return S_OK;
        g->NoteTransaction(transid);
        PostValues(method, group, count, handles, values, qualities, times, errors);
    } catch (...) {  // a callback never raises into the server
    }
    return S_OK;
}

HRESULT TVelqorDataCallback::OnDataChange(DWORD transid, OPCHANDLE group, HRESULT, HRESULT,
                                          DWORD count, OPCHANDLE* handles, VARIANT* values,
                                          WORD* qualities, FILETIME* times, HRESULT* errors) {
    return Deliver("OnDataChange", transid, group, count, handles, values, qualities, times,
                   errors);
}

HRESULT TVelqorDataCallback::OnReadComplete(DWORD transid, OPCHANDLE group, HRESULT, HRESULT,
                                            DWORD count, OPCHANDLE* handles, VARIANT* values,
                                            WORD* qualities, FILETIME* times, HRESULT* errors) {
    return Deliver("OnReadComplete", transid, group, count, handles, values, qualities, times,
                   errors);
}

HRESULT TVelqorDataCallback::OnWriteComplete(DWORD transid, OPCHANDLE group, HRESULT, DWORD count,
                                             OPCHANDLE* handles, HRESULT* errors) {
    try {
        TVelqorCOMGroup* g = For(group);
        if (!g) return S_OK;
        g->NoteTransaction(transid);
        if (count > 0 && !handles) return S_OK;
        std::vector<ItemUpdate> results;
        for (DWORD i = 0; i < count; ++i)
            results.push_back(
                errors ? ItemOutcome(handles[i], errors[i])
                       : Malformed(handles[i], kMalformedAnswer,
                                   MsgFormat(Msg::WrongResult, std::string("OnWriteComplete"))));
        PostWriteResults(*g, std::move(results));
    } catch (...) {
    }
    return S_OK;
}

HRESULT TVelqorDataCallback::OnCancelComplete(DWORD transid, OPCHANDLE) {
    if (group_) group_->NoteTransaction(transid);
    return S_OK;
}

// ---- IAdviseSink (DA 1.0 streams) ---------------------------------------------------------

HRESULT TVelqorAdviseSink::Advise(::IUnknown* groupObject) {
    connection_ = writeConnection_ = 0;
    adviseResult_ = E_FAIL;
    auto data = com::QueryAs<IDataObject>(groupObject);
    if (!data) return adviseResult_;
    FORMATETC format{};
    format.cfFormat = CLIPFORMAT(StreamFormats().DataTime);
    format.ptd = nullptr;
    format.dwAspect = DVASPECT_CONTENT;
    format.lindex = -1;
    format.tymed = TYMED_HGLOBAL;
    adviseResult_ = data->DAdvise(&format, ADVF_PRIMEFIRST, this, &connection_);
    if (FAILED(adviseResult_)) {
        connection_ = 0;
        return adviseResult_;
    }
    // Write completions come in streams of their own; without them a write is still sent, and
    // its outcome is not reported.
    format.cfFormat = CLIPFORMAT(StreamFormats().WriteComplete);
    if (FAILED(data->DAdvise(&format, 0, this, &writeConnection_))) writeConnection_ = 0;
    return adviseResult_;
}

void TVelqorAdviseSink::Unadvise(::IUnknown* groupObject) {
    if (auto data = com::QueryAs<IDataObject>(groupObject)) {
        if (connection_) data->DUnadvise(connection_);
        if (writeConnection_) data->DUnadvise(writeConnection_);
    }
    connection_ = writeConnection_ = 0;
}

void TVelqorAdviseSink::OnDataChange(FORMATETC* format, STGMEDIUM* medium) {
    try {
        if (!group_ || !group_->HasGroupObject()) {
            MessageBeep(0);
            return;
        }
        if (!format || !medium || medium->tymed != TYMED_HGLOBAL) return;
        const TStreamFormats& formats = StreamFormats();
        if (format->cfFormat == formats.WriteComplete) {
            WriteCompleted(medium->hGlobal);
            return;
        }
        const bool withTime = format->cfFormat == formats.DataTime;
        if (!withTime && format->cfFormat != formats.Data) return;
        const void* block = GlobalLock(medium->hGlobal);
        if (!block) return;
        TDecodedStream stream;
        const bool ok = DecodeDataStream(static_cast<const uint8_t*>(block),
                                         GlobalSize(medium->hGlobal), withTime, stream);
        GlobalUnlock(medium->hGlobal);
        if (!ok) {
            // A header that disagrees with the block's length: nothing in it is trusted, so
            // the group's active items are known to have no good value.
            PostUnreadableStream();
            return;
        }
        group_->NoteTransaction(stream.TransactionID);
        if (FAILED(stream.Status)) return;
        auto payload = std::make_unique<ItemUpdatesPayload>();
        for (ItemUpdate& u : stream.Items)
            if (FindItemByClientHandle(u.ClientHandle)) payload->Items.push_back(std::move(u));
        if (payload->Items.empty()) return;
        Post(*group_, WM_VELQOR_DATACHANGE, uintptr_t(group_->ClientGroupHandle()),
             std::move(payload));
    } catch (...) {  // a callback never raises into the server
    }
}

void TVelqorAdviseSink::PostUnreadableStream() {
    auto payload = std::make_unique<ItemUpdatesPayload>();
    const std::string why = MsgFormat(Msg::WrongResult, std::string("IAdviseSink::OnDataChange"));
    for (uint32_t handle : group_->ItemHandles()) {
        const TVelqorItemData* item = FindItemByClientHandle(handle);
        if (item && item->FIsActive)
            payload->Items.push_back(Malformed(handle, kMalformedAnswer, why));
    }
    if (payload->Items.empty()) return;
    Post(*group_, WM_VELQOR_DATACHANGE, uintptr_t(group_->ClientGroupHandle()), std::move(payload));
}

void TVelqorAdviseSink::WriteCompleted(HGLOBAL memory) {
    const void* block = GlobalLock(memory);
    if (!block) return;
    TDecodedWriteStream stream;
    const bool ok =
        DecodeWriteStream(static_cast<const uint8_t*>(block), GlobalSize(memory), stream);
    GlobalUnlock(memory);
    if (!ok) return;
    group_->NoteTransaction(stream.TransactionID);
    if (FAILED(stream.Status)) return;
    std::vector<ItemUpdate> results;
    for (const TWriteResult& r : stream.Items)
        results.push_back(ItemOutcome(r.ClientHandle, r.Error));
    PostWriteResults(*group_, std::move(results));
}

}  // namespace velqor
