// A group of a simulated OPC DA server: its items, its state, synchronous and asynchronous reads
// and writes, and the data it delivers to its clients at its update rate. One object serves every
// server generation; QueryInterface offers only the interfaces the generation has:
//   DA 1.0: IOPCItemMgt, IOPCGroupStateMgt, IOPCSyncIO, IOPCAsyncIO, IDataObject;
//   DA 2.0: those, IOPCAsyncIO2 and the IOPCDataCallback connection point;
//   DA 3.0: IOPCItemMgt, IOPCGroupStateMgt2, IOPCSyncIO2, IOPCAsyncIO3, IOPCItemDeadbandMgt and
//           the IOPCDataCallback connection point.
// Callbacks and their clock run on the event loop the group was created on (the client's
// thread), through the group's CallbackQueue; calls may come from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ComSimAddressSpace.h"
#include "SimFaults.h"
#include "com/ComCallbacks.h"
#include "com/OpcDaIntf.h"
#include "com/runtime/ComConnectionPoints.h"

namespace velqor::sim {

enum class SimGeneration { Da10, Da20, Da30 };

// The group's settings as IOPCGroupStateMgt shows them.
struct SimGroupSettings {
    std::string Name;
    bool Active = false;
    DWORD UpdateRate = 0;  // revised
    OPCHANDLE ClientGroup = 0, ServerGroup = 0;
    LONG TimeBias = 0;
    FLOAT Deadband = 0;
    LCID Locale = 0x0409;
    DWORD KeepAlive = 0;
};

// One item of a group.
struct SimGroupItem {
    int Node = -1;
    std::string ItemId, AccessPath;
    OPCHANDLE Client = 0;
    bool Active = false;
    VARTYPE Requested = VT_EMPTY;
    std::optional<FLOAT> Deadband;  // the item's own percent deadband (DA 3.0)
    // What the last data change carried; Sent false means the next one carries the item.
    bool Sent = false;
    xmldasim::Value LastValue;
    WORD LastQuality = 0;
};

// One item's value to or from a client: handle, value (owned, cleared by the destructor),
// quality, time and the item's error; for a value to write, whether quality and time were given.
struct SimItemValue {
    OPCHANDLE Client = 0;
    VARIANT Value;
    WORD Quality = OPC_QUALITY_BAD;
    FILETIME Time{};
    HRESULT Error = S_OK;
    bool QualityGiven = false, TimeGiven = false;
    SimItemValue() { VariantInit(&Value); }
    SimItemValue(SimItemValue&& o) noexcept;
    SimItemValue(const SimItemValue&) = delete;
    SimItemValue& operator=(const SimItemValue&) = delete;
    ~SimItemValue() { VariantClear(&Value); }
};

class SimGroupList;

class SimGroup final : public com::PlatformObject<IOPCItemMgt, IOPCGroupStateMgt2, IOPCSyncIO2,
                                                  IOPCAsyncIO3, IOPCAsyncIO, IOPCItemDeadbandMgt,
                                                  IDataObject, IConnectionPointContainer> {
  public:
    using Base =
        com::PlatformObject<IOPCItemMgt, IOPCGroupStateMgt2, IOPCSyncIO2, IOPCAsyncIO3, IOPCAsyncIO,
                            IOPCItemDeadbandMgt, IDataObject, IConnectionPointContainer>;

    SimGroup(std::shared_ptr<ComSimAddressSpace> space, std::weak_ptr<SimGroupList> list,
             SimGeneration generation, SimGroupSettings settings);
    ~SimGroup() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;

    // IOPCItemMgt
    HRESULT STDMETHODCALLTYPE AddItems(DWORD count, OPCITEMDEF* items, OPCITEMRESULT** results,
                                       HRESULT** errors) override;
    HRESULT STDMETHODCALLTYPE ValidateItems(DWORD count, OPCITEMDEF* items, BOOL blobUpdate,
                                            OPCITEMRESULT** results, HRESULT** errors) override;
    HRESULT STDMETHODCALLTYPE RemoveItems(DWORD count, OPCHANDLE* server,
                                          HRESULT** errors) override;
    HRESULT STDMETHODCALLTYPE SetActiveState(DWORD count, OPCHANDLE* server, BOOL active,
                                             HRESULT** errors) override;
    HRESULT STDMETHODCALLTYPE SetClientHandles(DWORD count, OPCHANDLE* server, OPCHANDLE* client,
                                               HRESULT** errors) override;
    HRESULT STDMETHODCALLTYPE SetDatatypes(DWORD count, OPCHANDLE* server, VARTYPE* types,
                                           HRESULT** errors) override;
    HRESULT STDMETHODCALLTYPE CreateEnumerator(REFIID riid, LPUNKNOWN* result) override;

    // IOPCGroupStateMgt2
    HRESULT STDMETHODCALLTYPE GetState(DWORD* rate, BOOL* active, LPWSTR* name, LONG* timeBias,
                                       FLOAT* deadband, DWORD* lcid, OPCHANDLE* clientGroup,
                                       OPCHANDLE* serverGroup) override;
    HRESULT STDMETHODCALLTYPE SetState(DWORD* requestedRate, DWORD* revisedRate, BOOL* active,
                                       LONG* timeBias, FLOAT* deadband, DWORD* lcid,
                                       OPCHANDLE* clientGroup) override;
    HRESULT STDMETHODCALLTYPE SetName(LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE CloneGroup(LPCWSTR name, REFIID riid, LPUNKNOWN* result) override;
    HRESULT STDMETHODCALLTYPE SetKeepAlive(DWORD keepAlive, DWORD* revised) override;
    HRESULT STDMETHODCALLTYPE GetKeepAlive(DWORD* keepAlive) override;

    // IOPCSyncIO2
    HRESULT STDMETHODCALLTYPE Read(OPCDATASOURCE source, DWORD count, OPCHANDLE* server,
                                   OPCITEMSTATE** values, HRESULT** errors) override;
    HRESULT STDMETHODCALLTYPE Write(DWORD count, OPCHANDLE* server, VARIANT* values,
                                    HRESULT** errors) override;
    HRESULT STDMETHODCALLTYPE ReadMaxAge(DWORD count, OPCHANDLE* server, DWORD* maxAge,
                                         VARIANT** values, WORD** qualities, FILETIME** times,
                                         HRESULT** errors) override;
    HRESULT STDMETHODCALLTYPE WriteVQT(DWORD count, OPCHANDLE* server, OPCITEMVQT* vqts,
                                       HRESULT** errors) override;

    // IOPCAsyncIO3
    HRESULT STDMETHODCALLTYPE Read(DWORD count, OPCHANDLE* server, DWORD transaction,
                                   DWORD* cancelId, HRESULT** errors) override;
    HRESULT STDMETHODCALLTYPE Write(DWORD count, OPCHANDLE* server, VARIANT* values,
                                    DWORD transaction, DWORD* cancelId, HRESULT** errors) override;
    HRESULT STDMETHODCALLTYPE Refresh2(OPCDATASOURCE source, DWORD transaction,
                                       DWORD* cancelId) override;
    HRESULT STDMETHODCALLTYPE Cancel2(DWORD cancelId) override;
    HRESULT STDMETHODCALLTYPE SetEnable(BOOL enable) override;
    HRESULT STDMETHODCALLTYPE GetEnable(BOOL* enable) override;
    HRESULT STDMETHODCALLTYPE ReadMaxAge(DWORD count, OPCHANDLE* server, DWORD* maxAge,
                                         DWORD transaction, DWORD* cancelId,
                                         HRESULT** errors) override;
    HRESULT STDMETHODCALLTYPE WriteVQT(DWORD count, OPCHANDLE* server, OPCITEMVQT* vqts,
                                       DWORD transaction, DWORD* cancelId,
                                       HRESULT** errors) override;
    HRESULT STDMETHODCALLTYPE RefreshMaxAge(DWORD maxAge, DWORD transaction,
                                            DWORD* cancelId) override;

    // IOPCAsyncIO (DA 1.0): results go out as IDataObject streams.
    HRESULT STDMETHODCALLTYPE Read(DWORD connection, OPCDATASOURCE source, DWORD count,
                                   OPCHANDLE* server, DWORD* transaction,
                                   HRESULT** errors) override;
    HRESULT STDMETHODCALLTYPE Write(DWORD connection, DWORD count, OPCHANDLE* server,
                                    VARIANT* values, DWORD* transaction, HRESULT** errors) override;
    HRESULT STDMETHODCALLTYPE Refresh(DWORD connection, OPCDATASOURCE source,
                                      DWORD* transaction) override;
    HRESULT STDMETHODCALLTYPE Cancel(DWORD transaction) override;

    // IOPCItemDeadbandMgt
    HRESULT STDMETHODCALLTYPE SetItemDeadband(DWORD count, OPCHANDLE* server, FLOAT* percent,
                                              HRESULT** errors) override;
    HRESULT STDMETHODCALLTYPE GetItemDeadband(DWORD count, OPCHANDLE* server, FLOAT** percent,
                                              HRESULT** errors) override;
    HRESULT STDMETHODCALLTYPE ClearItemDeadband(DWORD count, OPCHANDLE* server,
                                                HRESULT** errors) override;

    // IDataObject: only the advise sinks of the DA 1.0 stream formats.
    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override;
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC* format, STGMEDIUM* medium) override;
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override;
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) override;
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override;
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) override;
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC* format, DWORD advf, IAdviseSink* sink,
                                      DWORD* connection) override;
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD connection) override;
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA** advises) override;

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

    // For the server object.
    std::string Name() const;
    bool Rename(const std::string& name);  // false when the name is taken
    // The group leaves its server: no more callbacks, unless the fault switch keeps them coming.
    void Detach(bool keepCallbacks);
    static DWORD ReviseRate(DWORD requested);

  private:
    struct Pending {
        enum Kind { ReadItems, WriteItems, RefreshItems };
        Pending() = default;
        Pending(Kind what, DWORD transaction, DWORD connection = 0)
            : What(what), Transaction(transaction), Connection(connection) {}
        Kind What = ReadItems;
        DWORD Transaction = 0;
        DWORD Connection = 0;  // DA 1.0: the advise connection named
        std::vector<OPCHANDLE> Handles;
        std::vector<SimItemValue> Written;  // values to write, in Handles' order
        std::vector<DWORD> MaxAge;          // per item; one for a refresh
        bool CacheRead = false;
        bool Da10 = false;
    };

    // Per-item helpers (callers hold mu_).
    SimGroupItem* FindItem(OPCHANDLE server);
    HRESULT CheckItem(const OPCITEMDEF& def, VARTYPE& canonical, DWORD& rights, int& node,
                      const SimFaults& faults) const;
    // Enters the call, then EachItem.
    HRESULT ItemCall(DWORD count, OPCHANDLE* server, HRESULT** errors,
                     const std::function<HRESULT(DWORD i, OPCHANDLE h)>& each);
    // The per-item errors of a call: each for every known handle (under mu_), the handle error
    // for the others; S_FALSE when any failed.
    HRESULT EachItem(const SimFaults& faults, DWORD count, OPCHANDLE* server, HRESULT** errors,
                     const std::function<HRESULT(DWORD i, OPCHANDLE h)>& each);
    HRESULT ValidateOrAdd(DWORD count, OPCITEMDEF* items, bool add, OPCITEMRESULT** results,
                          HRESULT** errors);
    // Reads one item now: maxAge 0 from the device, else a cached value at most that old.
    SimItemValue ReadItem(const SimGroupItem& item, DWORD maxAge, bool cacheRead,
                          const SimFaults& faults);
    // Reads each item by server handle under the group's lock (maxAge(i): as ReadItem's) and
    // hands the found ones to put; an unknown handle fails with OPC_E_INVALIDHANDLE. S_FALSE
    // when any item failed.
    HRESULT ReadEach(DWORD count, const OPCHANDLE* server, HRESULT* errors,
                     const std::function<DWORD(DWORD i)>& maxAge, bool cacheRead,
                     const SimFaults& faults,
                     const std::function<void(DWORD i, SimItemValue& value)>& put);
    // An item's sample as the client asked for it: converted to the requested type.
    SimItemValue Deliver(const SimGroupItem& item, const xmldasim::Sample& sample) const;
    HRESULT WriteItem(const SimGroupItem& item, const SimItemValue& value, const SimFaults& faults);

    // Asynchronous calls: queue the request and answer it later on the loop.
    HRESULT Queue(Pending request, DWORD* cancelId);
    HRESULT CheckAsync(DWORD count, OPCHANDLE* server, bool forWrite, HRESULT** errors,
                       std::vector<DWORD>& good);
    HRESULT AsyncWrite(DWORD count, OPCHANDLE* server, std::vector<SimItemValue> values,
                       Pending request, DWORD* cancelId, HRESULT** errors);
    // IOPCAsyncIO2/3 writes: enters the call, checks the arguments and the callback, copies each
    // item's value and queues the write.
    HRESULT QueueWrite(DWORD count, OPCHANDLE* server, bool valuesGiven, DWORD transaction,
                       DWORD* cancelId, HRESULT** errors,
                       const std::function<void(DWORD i, SimItemValue& v)>& copy);
    bool HasCallback() const;                               // takes mu_
    bool HasAdvise(DWORD connection, bool dataOnly) const;  // a live advise connection
    void Complete(DWORD cancelId);
    std::vector<SimItemValue> RefreshValues(DWORD maxAge, bool cacheRead);

    // Data changes.
    void Restart();  // (re)starts the clock at the group's rate (mu_ held)
    void Tick();
    bool HasReceivers() const;  // mu_ held
    std::vector<SimItemValue> Changes();
    void SendDataChange(DWORD transaction, std::vector<SimItemValue>& values, bool read);
    void SendCancelComplete(DWORD transaction);
    void SendWriteComplete(DWORD transaction, std::vector<SimItemValue>& results);
    void SendStream(DWORD transaction, std::vector<SimItemValue>& values, DWORD onlyConnection);
    void SendWriteStream(DWORD transaction, std::vector<SimItemValue>& results);
    void ResetSent();

    std::shared_ptr<ComSimAddressSpace> space_;
    std::weak_ptr<SimGroupList> list_;
    const SimGeneration generation_;

    mutable std::mutex mu_;
    SimGroupSettings settings_;
    std::map<OPCHANDLE, SimGroupItem> items_;  // by server handle, in add order
    OPCHANDLE nextItem_ = 1;
    bool enabled_ = true;
    bool detached_ = false;
    std::map<DWORD, Pending> pending_;  // by cancel ID (DA 1.0: transaction ID)
    DWORD nextCancel_ = 1;
    std::chrono::steady_clock::time_point lastCallback_;
    std::size_t lastReceivers_ = 0;

    com::ConnectionPoint dataPoint_;
    com::ConnectionPointList points_;
    com::DataAdviseList advises_;
    // Sinks that keep receiving after unadvise or group removal (fault switches).
    std::vector<com::ComPtr<IOPCDataCallback>> ghostCallbacks_;
    std::vector<com::DataAdviseList::Entry> ghostAdvises_;

    CallbackQueue callbacks_;
    int timer_ = 0;
    // Values handed to the group's receivers as data changes (not reads), for the report.
    std::atomic<std::uint64_t> sentValues_{0};
};

// The groups of one server object.
class SimGroupList {
  public:
    ~SimGroupList();
    std::mutex mu;
    std::map<OPCHANDLE, com::ComPtr<SimGroup>> groups;
    std::vector<com::ComPtr<SimGroup>> removedButFiring;  // kept by a fault switch
    OPCHANDLE next = 1;
    // When a group last sent values to a client (a FILETIME as one number; 0 = never), for the
    // server status.
    std::atomic<std::uint64_t> lastUpdate{0};
    void NoteUpdate();
    // True when no group but `except` has that name (mu held).
    bool NameFree(const std::string& name, const SimGroup* except) const;
};

// Adds the extra item of the unknown-handle fault switch (kSimUnknownClientHandle).
void AddUnknownClientItem(std::vector<SimItemValue>& values);

// The three DA 1.0 stream formats, registered once per process.
struct SimStreamFormats {
    CLIPFORMAT Data, DataTime, WriteComplete;
};
const SimStreamFormats& StreamFormats();

// Builds a DA 1.0 data stream ("OPCSTMFORMATDATA" without, "OPCSTMFORMATDATATIME" with item
// times) in global memory: the group header, one item header per value, then each value's
// VARIANT, a string's byte count and characters behind it. Null when memory runs out.
HGLOBAL BuildDataStream(OPCHANDLE clientGroup, DWORD transaction, HRESULT status, bool withTime,
                        const std::vector<SimItemValue>& values, bool wrongHeader);
// Builds an "OPCSTMFORMATWRITECOMPLETE" stream: group header, one (handle, error) per item.
HGLOBAL BuildWriteStream(OPCHANDLE clientGroup, DWORD transaction, HRESULT status,
                         const std::vector<SimItemValue>& results);

}  // namespace velqor::sim
