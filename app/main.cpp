// Tagscope: creates the main window and runs the message loop until it closes.
//   --screenshot FILE [--screenshot-delay MS]: saves the window as a picture after a delay
//   (default 1500 ms) and quits; for documentation and checks under a virtual display.
// The server box starts with TAGSCOPE_SERVER when that is set, even to nothing (the run script
// passes the simulation service's address), else with the remembered server.
#include <QTimer>

#include "CredentialsDlg.h"
#include "ErrorDisplay.h"
#include "QtEventLoop.h"
#include "com/runtime/ComPlatform.h"
#include "comda/OpcServerList.h"
#include "comda/SimServers.h"
#include "uMain.h"

int main(int argc, char** argv) {
    TagscopeApplication app(argc, argv);
    QApplication::setApplicationName("tagscope");
    QApplication::setApplicationDisplayName("Tagscope");
    QApplication::setApplicationVersion(TAGSCOPE_VERSION);

    // COM in the GUI thread's single-threaded apartment; the simulated OPC DA servers are there
    // to connect to as installed servers are, and so is the OPC server enumerator.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    velqor::sim::RegisterSimulatedServers();
    velqor::sim::RegisterOpcServerList();

    QtEventLoop loop;
    loop.InstallAsDefault();
    InstallErrorDisplay();
    InstallCredentialsProvider();

    QString shot;
    int delay = 1500;
    QStringList args = QApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--screenshot" && i + 1 < args.size())
            shot = args[++i];
        else if (args[i] == "--screenshot-delay" && i + 1 < args.size())
            delay = args[++i].toInt();
    }

    TForm1 form;
    form.show();
    if (!shot.isEmpty()) {
        QTimer::singleShot(delay, &form, [&form, shot] {
            bool ok = form.grab().save(shot);
            QApplication::exit(ok ? 0 : 1);
        });
    }
    return QApplication::exec();
}
