#include "Commands.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <stdexcept>

#include "Format.h"
#include "Interrupt.h"
#include "Session.h"
#include "com/VelqorComCalls.h"
#include "com/runtime/ComPlatform.h"
#include "contract/VelqorDateTime.h"
#include "contract/VelqorError.h"
#include "contract/VelqorItemId.h"
#include "model/VelqorServerList.h"

namespace tagscope::cli {

using namespace velqor;

namespace {

// Runs a command body: toolkit and other errors become one line on the error stream and
// kExitError.
template <class Body>
int Guarded(Streams s, Body body) {
    try {
        return body();
    } catch (const std::exception& e) {
        // Whatever an interrupted exchange turned into on its way up.
        if (s.stop.load()) {
            s.err << "interrupted\n";
            return kExitInterrupted;
        }
        if (dynamic_cast<const EAbort*>(&e)) {
            s.err << "error: cancelled\n";
            return kExitError;
        }
        s.err << "error: " << ErrorLineText(e.what()) << '\n';
        return kExitError;
    }
}

// A date-time for people: one layout for values, timestamps and times alike, to the
// millisecond ("2026-01-01 00:00:00.000").
std::string DateText(double dt) {
    if (dt == 0) return "-";
    const DateTimeParts p = DecodeDateTime(dt);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.Year, p.Month, p.Day,
                  p.Hour, p.Minute, p.Second, p.Millisecond);
    return buf;
}

// A value's text for people: the toolkit's text, with dates (also inside arrays) in DateText's
// layout; arrays as "1;2;".
std::string HumanValueText(const Variant& v) {
    if (v.Type() == velqor::VT_DATE) return DateText(v.RawDouble());
    if (!v.IsArray() || v.Type() == (velqor::VT_ARRAY | velqor::VT_UI1)) return ValueTextOf(v);
    std::string text;
    for (const Variant& e : v.ArrayData().Elements)
        text += e.IsArray() ? "<" + HumanValueText(e) + ">" : HumanValueText(e) + ";";
    return text;
}

// After a listing: what it left out, named on stderr; a listing with gaps does not pass for
// complete.
int ReportGaps(const std::vector<std::string>& gaps, Streams s) {
    for (const auto& gap : gaps) s.err << "error: " << HumanText(gap) << '\n';
    return gaps.empty() ? kExitOk : kExitError;
}

std::string ErrorOf(const TVelqorItem& item) {
    std::string t = item.ErrorText();
    return t.empty() ? ResultMessage(item.Error()) : t;
}

// The value text of an item ("" for none); arrays as "1;2;".
std::string ValueOf(const TVelqorItem& item) { return HumanValueText(item.Value()); }

// Whether the item holds a value (an empty array is one).
bool HasValue(const TVelqorItem& item) { return !item.Value().IsEmpty() && !item.Value().IsNull(); }

// The dataType property of each item as a variant type (0 when unknown).
std::vector<int32_t> DataTypesOf(TVelqorServer& server, const std::vector<std::string>& ids) {
    std::vector<TVelqorItemPropertyQuery> queries;
    std::vector<size_t> asked;  // index in ids of each query
    for (size_t i = 0; i < ids.size(); ++i)
        if (ItemIdProblem(ids[i]).empty()) {  // the group refuses the others, with the reason
            queries.push_back({ids[i], {}});
            asked.push_back(i);
        }
    std::vector<int32_t> types(ids.size(), 0);
    if (queries.empty()) return types;
    // Each item's answer stands on its own: one that failed leaves only its own type unknown.
    server.DAConnection()->GetItemProperties(queries, {"1"}, true, false);
    for (size_t i = 0; i < queries.size(); ++i)
        for (const auto& p : queries[i].Properties)
            if (p.PropertyID == 1 && p.Error == 0) {
                try {
                    types[asked[i]] = p.Value.AsInt32();
                } catch (const std::exception&) {
                }
            }
    return types;
}

// The kind column of a browse line.
const char* KindOf(const TVelqorBrowseItem& b) {
    if (b.IsItem && b.IsBranch) return "item+branch";
    return b.IsItem ? "item" : "branch";
}

class WatchPrinter {
  public:
    WatchPrinter(std::ostream& out, std::string format) : out_(out), format_(std::move(format)) {
        if (format_ == "csv") out_ << DataChangeCsvHeader() << std::flush;
    }
    // Adds an item's change to the batch under way; now is when the batch arrived.
    void Print(const TVelqorItem& item, double now) {
        const std::string quality = QualityText(item.Quality());
        const std::string code = QualityCode(item.Quality());
        // Machines get one fixed date form and unambiguous arrays; people get the usual texts.
        if (format_ == "csv") {
            AppendDataChangeCsvRow(batch_, now, item, machineDates_);
        } else if (format_ == "jsonl") {
            const double stamp = item.TimeStamp();
            batch_ +=
                "{\"time\":" + JsonString(machineDates_.Of(now)) +
                ",\"item\":" + JsonString(item.ItemID()) + ",\"value\":" + JsonValue(item.Value()) +
                ",\"quality\":" + JsonString(quality) +
                ",\"quality_code\":" + std::to_string(item.Quality() & 0xFFFF) + ",\"timestamp\":" +
                (stamp == 0 ? std::string("null") : JsonString(machineDates_.Of(stamp)));
            if (item.Error() != 0) batch_ += ",\"error\":" + JsonString(ErrorOf(item));
            batch_ += "}\n";
        } else {
            batch_ += humanDates_.Of(now) + "  " + HumanText(item.ItemID()) + "  " +
                      HumanText(ValueOf(item)) + "  " + quality + " (" + code + ")  " +
                      humanDates_.Of(item.TimeStamp());
            if (item.Error() != 0) batch_ += "  " + HumanText(ErrorOf(item));
            batch_ += '\n';
        }
    }
    // Writes the batch at once, also into a pipe or a file that someone follows.
    void Flush() {
        if (batch_.empty()) return;
        out_.write(batch_.data(), std::streamsize(batch_.size()));
        out_.flush();
        batch_.clear();
    }

  private:
    std::ostream& out_;
    std::string format_;
    std::string batch_;
    TDateTexts machineDates_{MachineDateText}, humanDates_{DateText};
};

}  // namespace

int RunStatus(const ConnectOptions& c, Streams s) {
    return Guarded(s, [&] {
        Session session(c, s);
        tServerStateRecord st;
        session.Server().GetStatus(st);
        std::string state = ServerStateText(st.ServerState);
        if (state.empty()) state = "unknown";
        s.out << "Server:       " << c.server << '\n'
              << "State:        " << state << " (" << st.ServerState << ")\n"
              << "Start time:   " << DateText(st.StartTime) << '\n'
              << "Current time: " << DateText(st.CurrentTime) << '\n'
              << "Last update:  " << DateText(st.LastUpdateTime) << '\n'
              << "Vendor info:  " << HumanText(st.VendorInfo) << '\n'
              << "Version:      ";
        if (!st.VersionText.empty())
            s.out << HumanText(st.VersionText);
        else
            s.out << st.MajorVersion << '.' << st.MinorVersion << '.' << st.BuildNumber;
        s.out << '\n';
        if (!st.StateText.empty()) s.out << "Status info:  " << HumanText(st.StateText) << '\n';
        if (st.GroupCount != 0) s.out << "Groups:       " << st.GroupCount << '\n';
        return kExitOk;
    });
}

std::string ErrorLineText(std::string_view text) {
    std::string line;
    for (size_t start = 0;;) {
        const size_t end = text.find("\r\n", start);
        const std::string_view part = text.substr(start, end - start);
        if (!IsBlank(part)) line += (line.empty() ? "" : ": ") + HumanText(part);
        if (end == std::string_view::npos) break;
        start = end + 2;
    }
    return line;
}

namespace {
// The --types names by server type bit.
constexpr const char* kServerTypeNames[] = {"da1",    "da2",    "da3", "ae",
                                            "batch1", "batch2", "dx",  "hda"};
}  // namespace

uint8_t ParseServerTypes(const std::string& list) {
    uint8_t types = 0;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        std::string word;
        for (char ch : list.substr(start, end - start))
            if (static_cast<unsigned char>(ch) > ' ')
                word += char(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
        if (!word.empty()) {
            bool known = false;
            for (int bit = 0; bit < 8; ++bit)
                if (word == kServerTypeNames[bit]) {
                    types = uint8_t(types | (1u << bit));
                    known = true;
                }
            if (!known)
                throw std::invalid_argument(
                    "unknown server type \"" + word +
                    "\" (known: da1, da2, da3, ae, batch1, batch2, dx, hda)");
        }
        start = end + 1;
    }
    return types;
}

std::string ServerTypesText(uint8_t types) {
    std::string text;
    for (int bit = 0; bit < 8; ++bit)
        if (types & (1u << bit))
            text += (text.empty() ? "" : ",") + std::string(kServerTypeNames[bit]);
    return text;
}

int RunServers(const std::string& computer, uint8_t types, Streams s) {
    return Guarded(s, [&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        struct Uninit {
            ~Uninit() { CoUninitialize(); }
        } uninit;
        TComCallBounds bounds(uint32_t(kDefaultTimeoutSeconds * 1000));
        TVelqorServerBrowser list;
        list.ComputerName = computer;
        list.Servertype = types;
        list.GetServers(true);  // per type, so that each entry knows its types
        for (int i = 0; i < list.Count(); ++i) {
            const TVelqorServerItem& e = *list.Items(i);
            s.out << HumanText(e.ProgID.empty() ? e.CLSID : e.ProgID) << '\t'
                  << HumanText(e.Description) << '\t' << e.CLSID << '\t'
                  << ServerTypesText(e.ServerTypes) << '\n';
        }
        return ReportGaps(list.Gaps(), s);
    });
}

int RunBrowse(const ConnectOptions& c, const BrowseOptions& b, Streams s) {
    return Guarded(s, [&] {
        Session session(c, s);
        TVelqorBrowser& br = session.Server().Browser();
        br.Filter = b.filter;
        br.VendorFilter = b.vendorFilter;
        br.Datatype = VelqorADatatype(b.type.value_or(vtEMPTY));
        br.AccessRights =
            VelqorAcesstype((b.readable ? opcReadable : 0) | (b.writable ? opcWritable : 0));
        if (!b.path.empty()) {
            auto [path, name] = SplitItemID(b.path);
            TVelqorBrowseItem at;
            at.ItemPath = path;
            at.ItemName = name;
            const auto slash = name.find_last_of('/');
            at.Name = slash == std::string::npos ? name : name.substr(slash + 1);
            at.IsBranch = at.HasChildren = true;
            // Without the filters yet: MoveTo lists the level, Browse below applies them. A first
            // listing that failed leaves PATH the target, so Browse below asks again, and raises
            // the reason when that fails too.
            br.MoveTo(at);
        }
        br.Browse(b.branchesOnly ? 1 : b.itemsOnly ? 2 : 3, b.flat);
        for (const auto& e : br.BrowseItems())
            s.out << KindOf(*e) << '\t' << HumanText(e->Name) << '\t' << HumanText(e->CombinedID())
                  << '\n';
        return ReportGaps(br.Gaps(), s);
    });
}

int RunProps(const ConnectOptions& c, const std::vector<std::string>& items, bool values,
             Streams s) {
    return Guarded(s, [&] {
        Session session(c, s);
        std::vector<TVelqorItemPropertyQuery> queries;
        int rc = kExitOk;
        for (const auto& id : items) {
            // An ID the wire cannot carry is not sent; it alone fails.
            if (const std::string why = ItemIdProblem(id); !why.empty()) {
                s.err << HumanText(id) << ": the item ID cannot be sent: " << why << '\n';
                rc = kExitItemErrors;
            } else {
                queries.push_back({id, {}});
            }
        }
        if (queries.empty()) return rc;
        // False also means that some item failed; those are reported item by item below.
        const bool all =
            session.Server().DAConnection()->GetItemProperties(queries, {}, values, false);
        if (!all && std::all_of(queries.begin(), queries.end(),
                                [](const auto& q) { return q.Properties.empty(); }))
            throw Exception("the server returned no properties");
        for (const auto& q : queries) {
            s.out << HumanText(q.ItemID) << '\n';
            if (q.Properties.empty()) s.out << "  (no properties)\n";
            for (const auto& p : q.Properties) {
                if (p.PropertyID == 0 && p.Error != 0) {  // the item itself failed
                    // 1: the connection found nothing to ask (a server without item properties).
                    const std::string text =
                        p.Error == 1 ? std::string("the server offers no item properties")
                                     : session.Server().ResultText(p.Error);
                    // The COM transport names a failed item "error"; the code's text says more.
                    const bool plain = p.Description.empty() || p.Description == "error";
                    s.err << HumanText(q.ItemID) << ": " << HumanText(plain ? text : p.Description)
                          << '\n';
                    s.out << "  error: " << HumanText(text) << '\n';
                    rc = kExitItemErrors;
                    continue;
                }
                s.out << "  " << p.PropertyID << '\t' << HumanText(p.Description) << '\t'
                      << VarTypeName(p.DataType);
                std::string note;  // the data type and quality numbers in words
                try {
                    if (p.PropertyID == 1 && values)
                        note = " (" + VarTypeName(p.Value.AsInt32()) + ")";
                    if (p.PropertyID == 3 && values)
                        note = " (" + QualityText(p.Value.AsInt32()) + ")";
                } catch (const std::exception&) {
                }
                if (p.Error != 0) {
                    // A value that is no value says why; other failures are worded by code.
                    s.out << "\terror: "
                          << HumanText(p.ErrorDetail.empty() ? session.Server().ResultText(p.Error)
                                                             : p.ErrorDetail);
                    // A write-only item's value cannot be read: that is no loss.
                    if (p.Error < 0 && p.Error != OPC_E_WRITEONLY) rc = kExitItemErrors;
                } else if (values) {
                    std::string v;
                    try {
                        v = p.Value.IsArray() || p.Value.Type() == velqor::VT_DATE
                                ? HumanValueText(p.Value)
                                : p.Value.ToText();
                    } catch (const std::exception&) {
                        v = "(no text)";
                    }
                    s.out << '\t' << HumanText(v) << note;
                }
                s.out << '\n';
            }
        }
        return rc;
    });
}

int RunRead(const ConnectOptions& c, const std::vector<std::string>& items,
            std::optional<int32_t> type, bool fromCache, Streams s) {
    return Guarded(s, [&] {
        Session session(c, s);
        session.SetQuietReports(true);
        // A server keeps the cache of active groups only: an inactive one reads out of service.
        TVelqorGroup& g = session.MakeGroup(items, fromCache, 1000, 0, 0, 0, type.value_or(0));
        g.ReadSync(fromCache);
        int rc = kExitOk;
        for (int i = 0; i < g.OPCItems().Count(); ++i) {
            const TVelqorItem& item = *g.OPCItems().Items(i);
            // A failure; positive codes are notes beside a value, and an item without a value
            // failed whatever its code says.
            if (item.Error() < 0 || !HasValue(item)) {
                std::string why = item.Error() < 0 ? ErrorOf(item) : "no value from the server";
                if (item.Error() > 0) why += " (" + ErrorOf(item) + ")";
                s.out << HumanText(item.ItemID()) << "\terror: " << HumanText(why) << '\n';
                s.err << HumanText(item.ItemID()) << ": " << HumanText(why) << '\n';
                rc = kExitItemErrors;
                continue;
            }
            s.out << HumanText(item.ItemID()) << '\t' << HumanText(ValueOf(item)) << '\t'
                  << QualityText(item.Quality()) << ' ' << QualityCode(item.Quality()) << '\t'
                  << DateText(item.TimeStamp());
            if (item.Error() != 0) s.out << '\t' << HumanText(ErrorOf(item));
            s.out << '\n';
        }
        return rc;
    });
}

int RunWrite(const ConnectOptions& c, const std::vector<std::string>& assignments,
             std::optional<int32_t> type, Streams s) {
    std::vector<std::string> ids, texts;
    for (const auto& a : assignments) {
        const auto eq = a.find('=');
        if (eq == std::string::npos || eq == 0) {
            s.err << "error: expected ITEM=VALUE, got \"" << a << "\"\n";
            return kExitUsage;
        }
        ids.push_back(a.substr(0, eq));
        texts.push_back(a.substr(eq + 1));
    }
    return Guarded(s, [&] {
        Session session(c, s);
        session.SetQuietReports(true);
        // Without a type on the command line each text becomes a value of the item's own type.
        std::vector<int32_t> types(ids.size(), type.value_or(0));
        if (!type) types = DataTypesOf(session.Server(), ids);
        TVelqorGroup& g = session.MakeGroup(ids, false, 1000, 0, 0, 0, type.value_or(0));

        int rc = kExitOk;
        std::vector<std::string> failed(ids.size());
        TVelqorItemList toWrite;
        for (int i = 0; i < g.OPCItems().Count(); ++i) {
            TVelqorItem& item = *g.OPCItems().Items(i);
            if (item.ServerHandle() == -1 && item.Error() < 0) {
                failed[size_t(i)] = ErrorOf(item);  // the server refused the item: why it did
                continue;
            }
            try {
                item.SetWriteValue(ValueFromText(texts[size_t(i)], types[size_t(i)]));
                toWrite.Add(&item);
            } catch (const std::exception& e) {
                failed[size_t(i)] = "cannot convert \"" + texts[size_t(i)] + "\" to " +
                                    VarTypeName(types[size_t(i)]) + ": " + e.what();
            }
        }
        if (!toWrite.Empty()) g.WriteSync(toWrite);
        for (int i = 0; i < g.OPCItems().Count(); ++i) {
            const TVelqorItem& item = *g.OPCItems().Items(i);
            std::string why = failed[size_t(i)];
            if (why.empty() && item.Error() < 0) why = ErrorOf(item);
            if (why.empty()) {
                s.out << HumanText(item.ItemID()) << "\tok\n";
            } else {
                s.out << HumanText(item.ItemID()) << "\tfailed: " << HumanText(why) << '\n';
                s.err << HumanText(item.ItemID()) << ": " << HumanText(why) << '\n';
                rc = kExitItemErrors;
            }
        }
        return rc;
    });
}

void ReconnectAfterLoss(Session& session, double giveUpSeconds, Streams s,
                        std::chrono::steady_clock::time_point deadline) {
    using Clock = std::chrono::steady_clock;
    s.err << DateText(Now()) << "  subscription lost: " << ErrorLineText(session.LostReason())
          << "; subscribing again\n"
          << std::flush;
    const auto lostAt = Clock::now();
    auto pause = std::chrono::milliseconds(500);
    std::string lastFailure;
    for (;;) {
        const auto wake = std::min(deadline, Clock::now() + pause);
        session.Loop().RunUntil([&] { return s.stop.load() || Clock::now() >= wake; },
                                std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now()));
        if (s.stop.load() || Clock::now() >= deadline) return;
        try {
            session.Reconnect();
            s.err << DateText(Now()) << "  subscription recovered\n" << std::flush;
            return;
        } catch (const std::exception& e) {
            // Each new reason once, so a long outage does not fill the screen.
            if (e.what() != lastFailure) {
                lastFailure = e.what();
                s.err << DateText(Now()) << "  not yet: " << ErrorLineText(lastFailure) << '\n'
                      << std::flush;
            }
            if (giveUpSeconds > 0 &&
                Clock::now() - lostAt >= std::chrono::duration<double>(giveUpSeconds))
                throw;
        }
        pause = std::min<std::chrono::milliseconds>(pause * 2, std::chrono::seconds(30));
    }
}

int RunWatch(const ConnectOptions& c, const WatchOptions& w, Streams s) {
    return Guarded(s, [&] {
        // While the subscription is made again after a loss, its polls tell whether the server
        // is there; a failed keep-alive probe would end the watch that the recovery can save.
        ConnectOptions options = c;
        if (w.resubscribe) options.keepAlive = false;
        Session session(options, s);
        WatchPrinter printer(s.out, w.format);
        int64_t printed = 0;
        bool done = false;
        bool failedUpdates = false;  // values the server failed or that could not be read
        session.Server().OnDatachange = [&](TVelqorServer*, const TVelqorItemList& items) {
            const double now = Now();
            struct FlushAtEnd {
                WatchPrinter& printer;
                ~FlushAtEnd() { printer.Flush(); }
            } flush{printer};
            for (TVelqorItemData* d : items) {
                if (done) return;
                const auto& item = *static_cast<TVelqorItem*>(d);
                printer.Print(item, now);
                // A link that is down (the subscription being made again) loses no item of
                // its own; an item the server failed, or a value that could not be read, does.
                const int32_t status = item.Quality() & 0xFC;
                if (item.Error() < 0 && status != kQualityBadNotConnected &&
                    status != kQualityBadOutOfService)
                    failedUpdates = true;
                if (w.count > 0 && ++printed >= w.count) done = true;
            }
        };
        TVelqorResubscribe& policy = session.Server().OPCGroupDefault().Resubscribe;
        policy.Enabled = w.resubscribe;
        policy.GiveUpAfterMs = int32_t(std::llround(w.giveUpSeconds * 1000));
        session.Server().OnSubscriptionInterrupted = [&](TVelqorServer*, TVelqorGroup*,
                                                         const std::string& reason) {
            s.err << DateText(Now()) << "  subscription lost: " << ErrorLineText(reason)
                  << "; subscribing again\n"
                  << std::flush;
        };
        session.Server().OnSubscriptionRecovered = [&](TVelqorServer*, TVelqorGroup*,
                                                       const std::string&) {
            s.err << DateText(Now()) << "  subscription recovered\n" << std::flush;
        };
        session.Server().OnServerSilent = [&](TVelqorServer*, TVelqorGroup*,
                                              const std::string& reason) {
            s.err << FormatDateTimeText(Now()) << "  the server does not answer ("
                  << HumanText(reason) << "); still waiting\n"
                  << std::flush;
        };
        session.Server().OnServerAnswers = [&](TVelqorServer*, TVelqorGroup*, const std::string&) {
            s.err << FormatDateTimeText(Now()) << "  the server answers again\n" << std::flush;
        };
        session.SetQuietReports(true);  // each failed item is reported below
        TVelqorGroup& g =
            session.MakeGroup(w.items, true, w.rateMs, w.deadband, w.holdMs, w.waitMs, 0);
        session.SetQuietReports(false);
        int added = 0;
        int rc = kExitOk;
        for (int i = 0; i < g.OPCItems().Count(); ++i) {
            const TVelqorItem& item = *g.OPCItems().Items(i);
            if (item.Error() < 0 || item.ServerHandle() == -1) {
                s.err << HumanText(item.ItemID()) << ": " << HumanText(ErrorOf(item)) << '\n';
                rc = kExitItemErrors;
            } else {
                ++added;
            }
        }
        if (added == 0) throw Exception("no item could be added");
        bool subscriptionLost = false;
        std::string lostReason;
        session.Server().OnSubscriptionLost = [&](TVelqorServer*, TVelqorGroup*,
                                                  const std::string& reason) {
            subscriptionLost = true;
            lostReason = reason;
        };

        using Clock = std::chrono::steady_clock;
        const auto deadline = w.seconds > 0
                                  ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                       std::chrono::duration<double>(w.seconds))
                                  : Clock::time_point::max();
        // Sleeps until a change, the end of the time or Ctrl-C (which wakes the loop).
        CleanStopScope cleanStop(session.Loop());
        const auto over = [&] { return done || session.Lost() || subscriptionLost; };
        const auto untilDeadline = [&] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::min<Clock::duration>(deadline - Clock::now(), std::chrono::hours(1))) +
                   std::chrono::milliseconds(1);
        };
        for (;;) {
            while (!over() && !s.stop.load() && s.out.good() && Clock::now() < deadline)
                session.Loop().RunUntil([&] { return over() || s.stop.load(); }, untilDeadline());
            // A COM server that went away (its process ended, it stopped answering) is
            // connected again, and the items subscribed again, when it comes back.
            if (!session.Lost() || !w.resubscribe || done || s.stop.load() ||
                session.Server().Protocol() != coCOM || Clock::now() >= deadline)
                break;
            ReconnectAfterLoss(session, w.giveUpSeconds, s, deadline);
        }
        session.Server().OnDatachange = nullptr;
        session.Server().OnSubscriptionLost = nullptr;
        session.Server().OnSubscriptionInterrupted = nullptr;
        session.Server().OnSubscriptionRecovered = nullptr;
        session.Server().OnServerSilent = nullptr;
        session.Server().OnServerAnswers = nullptr;
        if (session.Lost()) throw Exception(session.LostReason());
        if (subscriptionLost && !done)
            throw Exception("the subscription is lost for good" +
                            (lostReason.empty() ? std::string() : ": " + lostReason) +
                            "; no more values will come");
        return failedUpdates ? kExitItemErrors : rc;
    });
}

}  // namespace tagscope::cli
