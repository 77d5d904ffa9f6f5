// How long the window's thread goes without turning while the user works against a slow
// server: the real main window, offscreen, against xmlda-sim answering every request after a
// delay. A 5 ms timer on the window's thread notes the longest gap between two of its ticks
// during connect, adding a group, adding the items of a branch through the browse dialog, and
// disconnect. Prints one line per step and ends with "longest GUI gap: N ms".
//
//   bench_gui_latency [--delay-ms 2000] [--items 1000]
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "ErrorDisplay.h"
#include "OPCGroupDlg.h"
#include "QtEventLoop.h"
#include "VelqorDlgBrowse.h"
#include "uMain.h"
#include "xmlda/XmlDaSim.h"

namespace {

// The longest gap between two ticks of a fast timer on the GUI thread since the last Take().
class GapMeter {
  public:
    GapMeter() {
        clock_.start();
        last_ = clock_.elapsed();
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.elapsed();
            longest_ = std::max(longest_, now - last_);
            last_ = now;
        });
        timer_.start();
    }
    qint64 Take() {
        const qint64 now = clock_.elapsed();
        qint64 gap = std::max(longest_, now - last_);
        longest_ = 0;
        last_ = now;
        return gap;
    }

  private:
    QElapsedTimer clock_;
    QTimer timer_;
    qint64 last_ = 0, longest_ = 0;
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
    int delayMs = 2000, items = 1000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--delay-ms"))
            delayMs = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--items"))
            items = std::atoi(argv[++i]);
    }
    TagscopeApplication app(argc, argv);
    QtEventLoop loop;
    loop.InstallAsDefault();
    InstallErrorDisplay();

    velqor::xmldasim::Options opt;
    opt.loadItems = items;
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
    GapMeter meter;
    qint64 longest = 0;
    auto step = [&](const char* name, const std::function<void()>& fn) {
        meter.Take();
        QElapsedTimer took;
        took.start();
        fn();
        const qint64 gap = meter.Take();
        longest = std::max(longest, gap);
        std::printf("%-28s took %6lld ms, longest GUI gap %5lld ms\n", name,
                    static_cast<long long>(took.elapsed()), static_cast<long long>(gap));
        std::fflush(stdout);
    };

    step("connect", [&] { form.bConnect->click(); });
    if (!form.OPCServer->Active()) {
        std::fprintf(stderr, "could not connect to %s\n", sim.url().c_str());
        return 1;
    }
    step("add group", [&] {
        WhenModal([](QWidget* w) {
            auto* dlg = qobject_cast<TEditGroupDlg*>(w);
            dlg->eGroupName->setText("Load");
            dlg->bOk->click();
        });
        form.AddGroup1->trigger();
    });
    char addName[64];
    std::snprintf(addName, sizeof addName, "add %d items (browse)", items);
    step(addName, [&] {
        WhenModal([](QWidget* w) {
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
            dlg->bOk->click();
        });
        form.A1->trigger();
    });
    std::printf("rows in the list: %d\n", form.ItemModel->Count());
    step("disconnect", [&] { form.BDisconnect->click(); });
    sim.stop();
    std::printf("longest GUI gap: %lld ms\n", static_cast<long long>(longest));
    return 0;
}
