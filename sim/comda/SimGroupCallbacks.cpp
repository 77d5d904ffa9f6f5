// What a simulated group delivers by itself: data changes at its update rate through the
// IOPCDataCallback connection point (DA 2.0/3.0) and as DA 1.0 streams to IDataObject advise
// sinks, and the completions of asynchronous requests. Everything here runs on the group's event
// loop; sinks are called outside the group's lock.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#ifndef _WIN32
#include <time.h>
#endif

#include "SimGroup.h"
#include "SimServerParts.h"
#include "SimServers.h"

namespace velqor::sim {
namespace {

xmldasim::TimePoint Now() {
    return std::chrono::time_point_cast<std::chrono::milliseconds>(xmldasim::Clock::now());
}

bool IsDataFormat(CLIPFORMAT f) {
    return f == StreamFormats().Data || f == StreamFormats().DataTime;
}

// A changed value for a data change: another quality, or a value that moved; an analog item's
// value must move by more than the deadband's share of its EU range.
bool Changed(const SimGroupItem& item, const xmldasim::ItemDef& def, const xmldasim::Sample& s,
             WORD quality, FLOAT groupDeadband) {
    if (!item.Sent || quality != item.LastQuality) return true;
    FLOAT deadband = item.Deadband.value_or(groupDeadband);
    if (def.euType == xmldasim::EuType::Analog && deadband > 0) {
        auto now = xmldasim::numericOf(s.value), last = xmldasim::numericOf(item.LastValue);
        if (now && last)
            return std::fabs(*now - *last) > deadband / 100.0 * (def.highEU - def.lowEU);
    }
    return !(s.value == item.LastValue);
}

// The calling thread's CPU time so far.
std::int64_t ThreadCpuNs() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& f) {
        return (std::int64_t(f.dwHighDateTime) << 32) | std::int64_t(f.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) * 100;
#else
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
#endif
}

// The servers' own CPU time for data changes: each tick's, less what the clients' callbacks
// took of it (an in-process client's sink runs inside the tick, on the same thread).
std::atomic<std::int64_t> g_dataChangeCpuNs{0};
thread_local std::int64_t t_clientCpuNs = 0;

// Counts a tick's CPU time, without its callbacks, towards g_dataChangeCpuNs.
class TickCpu {
  public:
    TickCpu() : cpu0_(ThreadCpuNs()), client0_(t_clientCpuNs) {}
    ~TickCpu() { g_dataChangeCpuNs += ThreadCpuNs() - cpu0_ - (t_clientCpuNs - client0_); }

  private:
    std::int64_t cpu0_, client0_;
};

// A client's callback: its CPU time is the client's.
template <class Call>
void CallClient(Call&& call) {
    const std::int64_t cpu0 = ThreadCpuNs();
    call();
    t_clientCpuNs += ThreadCpuNs() - cpu0;
}

template <class T>
void AddUnique(std::vector<T>& to, const T& e) {
    if (std::find(to.begin(), to.end(), e) == to.end()) to.push_back(e);
}

}  // namespace

void AddUnknownClientItem(std::vector<SimItemValue>& values) {
    SimItemValue v;
    v.Client = kSimUnknownClientHandle;
    v.Value.vt = VT_I4;
    v.Value.lVal = 0;
    v.Quality = OPC_QUALITY_GOOD;
    values.push_back(std::move(v));
}

const SimStreamFormats& StreamFormats() {
    static const SimStreamFormats formats{
        static_cast<CLIPFORMAT>(RegisterClipboardFormatA("OPCSTMFORMATDATA")),
        static_cast<CLIPFORMAT>(RegisterClipboardFormatA("OPCSTMFORMATDATATIME")),
        static_cast<CLIPFORMAT>(RegisterClipboardFormatA("OPCSTMFORMATWRITECOMPLETE"))};
    return formats;
}

void SimGroup::ResetSent() {
    for (auto& [h, item] : items_) item.Sent = false;
}

void SimGroup::Restart() {
    if (timer_) callbacks_.StopTimer(timer_);
    timer_ = 0;
    if (detached_) return;
    timer_ = callbacks_.StartTimer(static_cast<int>(settings_.UpdateRate), [this] { Tick(); });
}

bool SimGroup::HasReceivers() const {
    if (dataPoint_.Count() > 0 || !ghostCallbacks_.empty() || !ghostAdvises_.empty()) return true;
    auto entries = advises_.Snapshot();
    return std::any_of(entries.begin(), entries.end(),
                       [](const auto& e) { return IsDataFormat(e.Format.cfFormat); });
}

std::vector<SimItemValue> SimGroup::Changes() {
    std::vector<SimItemValue> out;
    out.reserve(items_.size());
    auto now = Now();
    for (auto& [h, item] : items_) {
        const xmldasim::ItemDef& def = space_->Node(item.Node).item;
        if (!item.Active || def.access == xmldasim::Access::Write) continue;
        xmldasim::Sample s = space_->Plant().read(item.Node, now, 0);
        WORD quality = QualityWordOf(s.quality);
        if (!Changed(item, def, s, quality, settings_.Deadband)) continue;
        item.Sent = true;
        item.LastQuality = quality;
        item.LastValue = s.value;
        out.push_back(Deliver(item, s));
    }
    return out;
}

double SimulatedDataChangeCpuSeconds() { return double(g_dataChangeCpuNs.load()) / 1e9; }

void SimGroup::Tick() {
    com::ComPtr<SimGroup> self(this);  // a sink may release the group while it is called
    TickCpu cpu;
    auto faults = CurrentSimFaults();
    std::vector<SimItemValue> values;
    bool keepAlive = false;
    {
        std::lock_guard lock(mu_);
        if (detached_ || !settings_.Active) return;
        if (faults->CallbacksAfterUnadvise)
            for (auto& sink : dataPoint_.Sinks<IOPCDataCallback>())
                AddUnique(ghostCallbacks_, sink);
        // A new receiver gets every active item's value first.
        std::size_t receivers = dataPoint_.Count() + advises_.Count();
        if (receivers > lastReceivers_) ResetSent();
        lastReceivers_ = receivers;
        if (!HasReceivers()) return;
        values = Changes();
        auto since = std::chrono::steady_clock::now() - lastCallback_;
        keepAlive = values.empty() && settings_.KeepAlive > 0 &&
                    since >= std::chrono::milliseconds(settings_.KeepAlive);
    }
    if (values.empty() && !keepAlive) return;
    if (faults->UnknownClientHandle && !values.empty()) AddUnknownClientItem(values);
    if (!values.empty()) {
        if (auto list = list_.lock()) list->NoteUpdate();
        SendStream(0, values, 0);
    }
    SendDataChange(0, values, false);
    sentValues_ += values.size();
}

void SimGroup::SendDataChange(DWORD transaction, std::vector<SimItemValue>& values, bool read) {
    std::vector<com::ComPtr<IOPCDataCallback>> sinks;
    OPCHANDLE group;
    {
        std::lock_guard lock(mu_);
        // SetEnable(FALSE) holds back the subscription's data changes, not refreshes.
        if (!read && transaction == 0 && !enabled_) return;
        sinks = dataPoint_.Sinks<IOPCDataCallback>();
        for (const auto& g : ghostCallbacks_) AddUnique(sinks, g);
        group = settings_.ClientGroup;
        lastCallback_ = std::chrono::steady_clock::now();
    }
    if (sinks.empty()) return;
    auto n = static_cast<DWORD>(values.size());
    std::vector<OPCHANDLE> handles;
    std::vector<WORD> qualities;
    std::vector<FILETIME> times;
    std::vector<HRESULT> errors;
    handles.reserve(n);
    qualities.reserve(n);
    times.reserve(n);
    errors.reserve(n);
    HRESULT masterQuality = S_OK, masterError = S_OK;
    for (const auto& v : values) {
        handles.push_back(v.Client);
        qualities.push_back(v.Quality);
        times.push_back(v.Time);
        errors.push_back(v.Error);
        if ((v.Quality & OPC_QUALITY_MASK) != OPC_QUALITY_GOOD) masterQuality = S_FALSE;
        if (FAILED(v.Error)) masterError = S_FALSE;
    }
    for (const auto& sink : sinks) {
        // Each sink gets values of its own: a client may clear what it was handed.
        std::vector<VARIANT> copies(n);
        for (DWORD i = 0; i < n; ++i) {
            VariantInit(&copies[i]);
            VariantCopy(&copies[i], &values[i].Value);
        }
        if (read)
            sink->OnReadComplete(transaction, group, masterQuality, masterError, n, handles.data(),
                                 copies.data(), qualities.data(), times.data(), errors.data());
        else
            CallClient([&] {
                sink->OnDataChange(transaction, group, masterQuality, masterError, n,
                                   handles.data(), copies.data(), qualities.data(), times.data(),
                                   errors.data());
            });
        for (auto& c : copies) VariantClear(&c);
    }
}

void SimGroup::SendWriteComplete(DWORD transaction, std::vector<SimItemValue>& results) {
    std::vector<com::ComPtr<IOPCDataCallback>> sinks;
    OPCHANDLE group;
    {
        std::lock_guard lock(mu_);
        sinks = dataPoint_.Sinks<IOPCDataCallback>();
        for (const auto& g : ghostCallbacks_) AddUnique(sinks, g);
        group = settings_.ClientGroup;
    }
    std::vector<OPCHANDLE> handles;
    std::vector<HRESULT> errors;
    HRESULT master = S_OK;
    for (const auto& r : results) {
        handles.push_back(r.Client);
        errors.push_back(r.Error);
        if (FAILED(r.Error)) master = S_FALSE;
    }
    for (const auto& sink : sinks)
        sink->OnWriteComplete(transaction, group, master, static_cast<DWORD>(handles.size()),
                              handles.data(), errors.data());
}

void SimGroup::SendCancelComplete(DWORD transaction) {
    std::vector<com::ComPtr<IOPCDataCallback>> sinks;
    OPCHANDLE group;
    {
        std::lock_guard lock(mu_);
        sinks = dataPoint_.Sinks<IOPCDataCallback>();
        group = settings_.ClientGroup;
    }
    for (const auto& sink : sinks) sink->OnCancelComplete(transaction, group);
}

void SimGroup::SendStream(DWORD transaction, std::vector<SimItemValue>& values,
                          DWORD onlyConnection) {
    auto faults = CurrentSimFaults();
    std::vector<com::DataAdviseList::Entry> entries;
    OPCHANDLE group;
    {
        std::lock_guard lock(mu_);
        entries = advises_.Snapshot();
        for (const auto& g : ghostAdvises_)
            if (std::none_of(entries.begin(), entries.end(), [&](const auto& e) {
                    return e.Connection == g.Connection && e.Sink.Get() == g.Sink.Get();
                }))
                entries.push_back(g);
        group = settings_.ClientGroup;
    }
    for (auto& e : entries) {
        if (!IsDataFormat(e.Format.cfFormat)) continue;
        if (onlyConnection && e.Connection != onlyConnection) continue;
        bool withTime = e.Format.cfFormat == StreamFormats().DataTime;
        STGMEDIUM medium{};
        medium.tymed = TYMED_HGLOBAL;
        medium.hGlobal =
            BuildDataStream(group, transaction, S_OK, withTime, values, faults->BadStreamHeader);
        if (!medium.hGlobal) continue;
        FORMATETC format = e.Format;
        CallClient([&] { e.Sink->OnDataChange(&format, &medium); });
        ReleaseStgMedium(&medium);  // the medium stays the server's
    }
}

void SimGroup::SendWriteStream(DWORD transaction, std::vector<SimItemValue>& results) {
    std::vector<com::DataAdviseList::Entry> entries;
    OPCHANDLE group;
    {
        std::lock_guard lock(mu_);
        entries = advises_.Snapshot();
        group = settings_.ClientGroup;
    }
    for (auto& e : entries) {
        if (e.Format.cfFormat != StreamFormats().WriteComplete) continue;
        STGMEDIUM medium{};
        medium.tymed = TYMED_HGLOBAL;
        medium.hGlobal = BuildWriteStream(group, transaction, S_OK, results);
        if (!medium.hGlobal) continue;
        FORMATETC format = e.Format;
        e.Sink->OnDataChange(&format, &medium);
        ReleaseStgMedium(&medium);
    }
}

// IConnectionPointContainer

HRESULT SimGroup::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (!EnterSimCall()) return RPC_E_CALL_CANCELED;
    return points_.Enum(points);
}

HRESULT SimGroup::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
    if (!EnterSimCall()) return RPC_E_CALL_CANCELED;
    return points_.Find(riid, point);
}

// IDataObject

HRESULT SimGroup::GetData(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }
HRESULT SimGroup::GetDataHere(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }
HRESULT SimGroup::GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) { return E_NOTIMPL; }
HRESULT SimGroup::SetData(FORMATETC*, STGMEDIUM*, BOOL) { return E_NOTIMPL; }
HRESULT SimGroup::EnumFormatEtc(DWORD, IEnumFORMATETC**) { return E_NOTIMPL; }
HRESULT SimGroup::EnumDAdvise(IEnumSTATDATA**) { return OLE_E_ADVISENOTSUPPORTED; }

HRESULT SimGroup::QueryGetData(FORMATETC* format) {
    if (!format) return E_INVALIDARG;
    const auto& f = StreamFormats();
    if (format->cfFormat != f.Data && format->cfFormat != f.DataTime &&
        format->cfFormat != f.WriteComplete)
        return DV_E_FORMATETC;
    return (format->tymed & TYMED_HGLOBAL) ? S_OK : DV_E_TYMED;
}

HRESULT SimGroup::DAdvise(FORMATETC* format, DWORD advf, IAdviseSink* sink, DWORD* connection) {
    if (!EnterSimCall()) return RPC_E_CALL_CANCELED;
    if (connection) *connection = 0;
    if (!format || !sink || !connection) return E_INVALIDARG;
    if (HRESULT hr = QueryGetData(format); FAILED(hr)) return hr;
    FORMATETC f = *format;
    f.tymed = TYMED_HGLOBAL;
    std::lock_guard lock(mu_);
    return advises_.Advise(&f, advf, sink, connection);
}

HRESULT SimGroup::DUnadvise(DWORD connection) {
    VELQOR_SIM_ENTER(faults, EnterSimCall());
    std::lock_guard lock(mu_);
    if (faults->CallbacksAfterUnadvise)
        for (const auto& e : advises_.Snapshot())
            if (e.Connection == connection) ghostAdvises_.push_back(e);
    return advises_.Unadvise(connection);
}

}  // namespace velqor::sim
