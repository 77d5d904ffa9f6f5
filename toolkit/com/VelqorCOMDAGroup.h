// The COM group: the toolkit's group interface over an OPC group of a DA 1.0, 2.0 or 3.0 server.
// Create adds the group on the server (IOPCServer::AddGroup), takes the best read and write
// interfaces the server's group object offers, and advises the data sinks
// (VelqorCOMDACallbacks.h); the item slots manage items through IOPCItemMgt and read and write
// them synchronously or asynchronously.
//
//   generation  sync read/write       async read/write, refresh, cancel          data delivery
//   DA 3.0      IOPCSyncIO2 (VQT)     IOPCAsyncIO3 (VQT write, RefreshMaxAge)    IOPCDataCallback
//   DA 2.0      IOPCSyncIO            IOPCAsyncIO2                               IOPCDataCallback
//   DA 1.0      IOPCSyncIO            IOPCAsyncIO, naming the advise connection  IAdviseSink
//
// The component model gets it from the group factory for a COM connection and drives it on the
// owning thread. Synchronous results are stored in the items at once, through their one door
// for updates; asynchronous results arrive later as messages.
//
// Per-item rules: a failing overall result raises (CheckOPCResult) and changes no item; per
// item, a success clears the item's error, a failure stores it (and for reads and writes makes
// the quality bad); a Boolean slot returns true when no item failed. A server answer that lacks
// an array it owes, or a null value where one is due, raises EOPCServerException "wrong result
// from OPC Server (<method>)" after freeing whatever came back.
//
// Transactions: one process-wide counter numbers every asynchronous request (the first is 1).
// The group keeps the server's cancel ID of its last request beside the client's transaction
// number, so that a completion naming that number clears the pending request.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>

#include "com/VelqorCOMDA.h"
#include "com/VelqorCOMDACallbacks.h"

namespace velqor {

// The next client transaction number of the process (never 0).
uint32_t NextTransactionNumber();

class TVelqorCOMGroup : public com::ComObject<IVelqorGroup>, public TVelqorCOMDAComponent {
  public:
    explicit TVelqorCOMGroup(com::ComPtr<IVelqorDAConnection> connection);
    // A group still on the server is removed from it (errors ignored); the sinks are detached.
    ~TVelqorCOMGroup() override;

    VELQOR_IVELQORGROUP_SLOTS;

    // What the sinks and tests see (owning thread).
    bool HasGroupObject() const { return bool(groupObject_); }
    int32_t ClientGroupHandle() const { return clientGroupHandle_; }
    // The server's number for the last asynchronous request (cancel ID; DA 1.0: transaction
    // ID), 0 when none is pending; and the client's transaction number beside it.
    int32_t PendingTransaction() const { return pendingCancelID_; }
    uint32_t PendingClientTransaction() const { return pendingTransaction_; }
    // A completion for that client transaction number ends the pending request.
    void NoteTransaction(uint32_t number);
    // 3, 2 or 1 by the asynchronous interface held; 0 without one.
    int Generation() const;
    TVelqorDataCallback* DataCallback() const { return dataCallback_.Get(); }
    TVelqorAdviseSink* AdviseSink() const { return adviseSink_.Get(); }
    // Client handles of the items added to the server through this group.
    const std::unordered_set<uint32_t>& ItemHandles() const { return itemHandles_; }

  private:
    void ReleaseInterfaces();
    void DetachSinks(bool unadvise);
    // The DA 1.0 advise connection a read or refresh (or a write) names; raises when the group
    // has none (the call must not be sent).
    DWORD RequireAdviseConnection(bool forWrite) const;
    // No request is pending while one is sent.
    void BeginTransaction();
    // Stores what the server answered to an asynchronous request (nothing when it failed).
    void EndTransaction(HRESULT hr, uint32_t transaction, DWORD cancelID);
    // The per-item answer an asynchronous request gets at once: failures are stored, and for a
    // write reported in a write error of their own (no completion comes for them).
    bool AcceptedAtOnce(TVelqorItemList& items, HRESULT hr, const HRESULT* errors, bool write);
    bool WriteVQT(TVelqorItemList& items, bool async);

    com::ComPtr<IOPCItemMgt> groupObject_;
    com::ComPtr<TVelqorDataCallback> dataCallback_;
    com::ComPtr<TVelqorAdviseSink> adviseSink_;
    com::ComPtr<IOPCGroupStateMgt> stateMgt_;
    com::ComPtr<IOPCSyncIO> syncIO_;
    com::ComPtr<IOPCSyncIO2> syncIO2_;
    com::ComPtr<IOPCAsyncIO2> asyncIO2_;
    com::ComPtr<IOPCAsyncIO3> asyncIO3_;
    com::ComPtr<IOPCAsyncIO> asyncIO_;
    std::string name_;
    int32_t pendingCancelID_ = 0;
    uint32_t pendingTransaction_ = 0;
    uint32_t answeredInCall_ = 0;  // the last completion's number since the request began
    int32_t clientGroupHandle_ = -1;
    int32_t serverHandle_ = -1;
    std::unordered_set<uint32_t> itemHandles_;
};

}  // namespace velqor
