// How long the window's thread goes without turning: the real main window, offscreen, against
// xmlda-sim. A 1 ms precise timer on the window's thread notes the longest gap between two of
// its ticks (steady clock, to the tenth of a millisecond; a gap near 1 ms is no pause at all),
// and the thread's own CPU time within its busiest gap:
//  - against a server answering every request after a delay: connect, adding a group, listing
//    a branch of N items in the browse dialog and selecting them all, handing them to the
//    window, and disconnect;
//  - live data: every item of the list changing at each update of the group (the simulator's
//    load period set to the update rate, the server answering at once): the values the window
//    takes per second, the window thread's CPU per 1,000 values and the longest gap.
// Ends with "longest GUI gap: N ms; most work between two ticks: M ms".
//
//   bench_gui_latency [--delay-ms 2000] [--items 10000] [--rate-ms 100] [--live-seconds 5]
//                     [--sort-column N]   (the list ordered by that column, descending)
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "BenchSupport.h"
#include "ErrorDisplay.h"
#include "OPCGroupDlg.h"
#include "QtEventLoop.h"
#include "VelqorDlgBrowse.h"
#include "uMain.h"
#include "xmlda/XmlDaSim.h"

using velqor::bench::Clock;

namespace {

// Between two ticks of a 1 ms timer on the GUI thread, since the last Take(), in milliseconds:
// the longest gap, and the most CPU time the thread spent in one gap (its own work; on a busy
// machine a gap may be mostly the time the thread waited for a processor).
struct Gap {
    double wall = 0, work = 0;
};
class GapMeter {
  public:
    GapMeter() : last_(Clock::now()), lastCpu_(velqor::bench::ThreadCpuSeconds()) {
        timer_.setInterval(1);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start();
    }
    Gap Take() {
        Tick();
        const Gap g = longest_;
        longest_ = {};
        return g;
    }

  private:
    void Tick() {
        const auto now = Clock::now();
        const double cpu = velqor::bench::ThreadCpuSeconds();
        longest_.wall =
            std::max(longest_.wall, std::chrono::duration<double, std::milli>(now - last_).count());
        longest_.work = std::max(longest_.work, (cpu - lastCpu_) * 1000.0);
        last_ = now;
        lastCpu_ = cpu;
    }
    QTimer timer_;
    Clock::time_point last_;
    double lastCpu_;
    Gap longest_;
};

// Runs fn on the next modal window that opens (polling, as a user would wait for it).
void WhenModal(std::function<void(QWidget*)> fn) {
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, fn] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            poll->stop();
            poll->deleteLater();
            fn(w);
        }
    });
    poll->start();
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int delayMs = 2000, items = 10000, rateMs = 100, sortColumn = -1;
    double liveSeconds = 5;
    velqor::bench::ReadOptions(argc, argv,
                               {{"--delay-ms", &delayMs},
                                {"--items", &items},
                                {"--rate-ms", &rateMs},
                                {"--live-seconds", &liveSeconds},
                                {"--sort-column", &sortColumn}});
    TagscopeApplication app(argc, argv);
    QtEventLoop loop;
    loop.InstallAsDefault();
    InstallErrorDisplay();

    velqor::xmldasim::Options opt;
    opt.loadItems = items;
    opt.loadPeriodMs = rateMs;
    velqor::xmldasim::Service sim(opt);
    sim.start();
    velqor::xmldasim::Switches sw;
    sw.delayMs = delayMs;
    sim.setSwitches(sw);

    QTemporaryDir prog, conf;
    TForm1 form;
    form.Ini = IniMemory(prog.path(), "tagscope", conf.path());
    form.show();
    form.ServerCombo->setEditText(QString::fromStdString(sim.url()));
    if (sortColumn >= 0) form.ItemView->sortByColumn(sortColumn, Qt::DescendingOrder);
    GapMeter meter;
    Gap longest;
    auto report = [&](const char* name, qint64 tookMs, Gap gap) {
        longest.wall = std::max(longest.wall, gap.wall);
        longest.work = std::max(longest.work, gap.work);
        std::printf("%-36s took %6lld ms, longest GUI gap %7.1f ms (work %6.1f ms)\n", name,
                    static_cast<long long>(tookMs), gap.wall, gap.work);
        std::fflush(stdout);
    };
    auto step = [&](const char* name, const std::function<void()>& fn) {
        meter.Take();
        QElapsedTimer took;
        took.start();
        fn();
        report(name, took.elapsed(), meter.Take());
    };

    std::printf("xmlda-sim answering after %d ms; %d load items changing every %d ms\n", delayMs,
                items, rateMs);
    step("connect", [&] { form.bConnect->click(); });
    if (!form.OPCServer->Active()) {
        std::fprintf(stderr, "could not connect to %s\n", sim.url().c_str());
        return 1;
    }
    step("add group", [&] {
        WhenModal([rateMs](QWidget* w) {
            auto* dlg = qobject_cast<TEditGroupDlg*>(w);
            dlg->eGroupName->setText("Load");
            dlg->eUpdateRate->setText(QString::number(rateMs));
            dlg->bOk->click();
        });
        form.AddGroup1->trigger();
    });
    // The browse dialog's part (entering the branch, listing and selecting it) and the window's
    // (the items handed over, made, added and shown) are told apart.
    QElapsedTimer browseTook;
    Gap browseGap;
    qint64 browseMs = 0;
    char browseName[64], addName[64];
    std::snprintf(browseName, sizeof browseName, "list and select %d items (browse)", items);
    std::snprintf(addName, sizeof addName, "add %d items to the window", items);
    meter.Take();
    browseTook.start();
    QElapsedTimer addTook;
    WhenModal([&](QWidget* w) {
        auto* dlg = qobject_cast<TVelqorDlgBrowse*>(w);
        auto found = dlg->ListView->findItems("Load", Qt::MatchExactly);
        if (found.size() != 1) {
            dlg->reject();
            return;
        }
        dlg->ListView->clearSelection();
        found[0]->setSelected(true);
        dlg->bOk->click();  // enters the branch
        dlg->ListView->selectAll();
        browseGap = meter.Take();
        browseMs = browseTook.elapsed();
        addTook.start();
        dlg->bOk->click();
    });
    form.A1->trigger();
    report(browseName, browseMs, browseGap);
    report(addName, addTook.elapsed(), meter.Take());
    std::printf("rows in the list: %d\n", form.ItemModel->Count());

    // Live data into the full list, from a server that answers at once.
    sim.setSwitches({});
    uint64_t values = 0;
    auto shown = form.OPCServer->OnDatachange;
    form.OPCServer->OnDatachange = [&values, shown](velqor::TVelqorServer* s,
                                                    const velqor::TVelqorItemList& l) {
        values += uint64_t(l.Count());
        shown(s, l);
    };
    auto runFor = [](int ms) {
        QEventLoop wait;
        QTimer::singleShot(ms, Qt::PreciseTimer, &wait, &QEventLoop::quit);
        wait.exec();
    };
    runFor(1000);
    values = 0;
    meter.Take();
    const double cpu0 = velqor::bench::ThreadCpuSeconds();
    QElapsedTimer live;
    live.start();
    runFor(int(liveSeconds * 1000));
    const double wall = double(live.elapsed()) / 1000.0;
    const double cpu = velqor::bench::ThreadCpuSeconds() - cpu0;
    char liveName[64];
    std::snprintf(liveName, sizeof liveName, "live data into %d rows", form.ItemModel->Count());
    report(liveName, live.elapsed(), meter.Take());
    std::printf("  values taken per second: %.0f; window thread CPU per 1,000 values: %.3f ms\n",
                double(values) / wall, values ? cpu * 1e6 / double(values) : 0.0);
    form.OPCServer->OnDatachange = shown;

    step("disconnect", [&] { form.BDisconnect->click(); });
    sim.stop();
    std::printf("longest GUI gap: %.1f ms; most work between two ticks: %.1f ms\n", longest.wall,
                longest.work);
    return 0;
}
