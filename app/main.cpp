// Tagscope: creates the main window and runs the message loop until it closes.
//   tagscope [SESSIONFILE]: opens the session (its server, groups and items) once the window shows.
//   --screenshot FILE [--screenshot-delay MS]: saves the window as a picture after a delay
//   (default 1500 ms) and quits; for documentation and checks under a virtual display.
//   --dump-items FILE: keeps FILE holding the item list as shown (a header line, then one line
//   per row, columns separated by tabs), rewritten twice a second; for checks that read what the
//   window shows.
//   --help, --help-all and --version answer on the terminal without a display.
// The server box starts with TAGSCOPE_SERVER when that is set, even to nothing (the run script
// passes the simulation service's address), else with the remembered server.
#include <QCommandLineParser>
#include <QSaveFile>
#include <QTimer>
#include <cstring>

#include "CredentialsDlg.h"
#include "ErrorDisplay.h"
#include "ItemListModel.h"
#include "QtEventLoop.h"
#include "com/runtime/ComPlatform.h"
#include "comda/OpcServerList.h"
#include "comda/SimServers.h"
#include "contract/VelqorVersion.h"
#include "uMain.h"

namespace {

const QCommandLineOption kScreenshot("screenshot", "Save the window as a picture FILE and quit.",
                                     "FILE");
const QCommandLineOption kScreenshotDelay("screenshot-delay",
                                          "Wait MS milliseconds before --screenshot (1500).", "MS",
                                          "1500");
const QCommandLineOption kDumpItems("dump-items",
                                    "Keep FILE holding the item list as shown (tab-separated).",
                                    "FILE");

void Describe(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        "Tagscope: a desktop client for OPC Data Access servers, classic (COM) and XML-DA.\n"
        "The server box starts with the environment variable TAGSCOPE_SERVER when it is set.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(kScreenshot);
    parser.addOption(kScreenshotDelay);
    parser.addOption(kDumpItems);
    parser.addPositionalArgument("SESSIONFILE", "Open this session: its server, groups and items.",
                                 "[SESSIONFILE]");
}

void SetNames() {
    QCoreApplication::setApplicationName("tagscope");
    QCoreApplication::setApplicationVersion(VELQOR_VERSION);
}

// --help and --version need no window system: they are answered before one is opened, so they
// work on a terminal without a display.
bool AsksForInformation(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        for (const char* o : {"-h", "--help", "--help-all", "-?", "-v", "--version"})
            if (std::strcmp(argv[i], o) == 0) return true;
    return false;
}

// Writes the item list's texts to path, whole or not at all.
void DumpItems(const ItemListModel& model, const QString& path) {
    QString text;
    for (int c = 0; c < model.columnCount(); ++c)
        text += (c ? "\t" : "") + model.headerData(c, Qt::Horizontal).toString();
    text += '\n';
    for (int r = 0; r < model.rowCount(); ++r) {
        for (int c = 0; c < model.columnCount(); ++c)
            text += (c ? "\t" : "") + model.data(model.index(r, c)).toString();
        text += '\n';
    }
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(text.toUtf8());
        file.commit();
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCommandLineParser parser;
    Describe(parser);
    if (AsksForInformation(argc, argv)) {
        QCoreApplication info(argc, argv);
        SetNames();
        parser.process(info);  // prints the text and exits
    }
    TagscopeApplication app(argc, argv);
    SetNames();
    QApplication::setApplicationDisplayName("Tagscope");
    // Desktops match the window to tagscope.desktop, and so to its icon.
    QGuiApplication::setDesktopFileName("tagscope");

    // COM in the GUI thread's single-threaded apartment; the simulated OPC DA servers are there
    // to connect to as installed servers are, and so is the OPC server enumerator.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    velqor::sim::RegisterSimulatedServers();
    velqor::sim::RegisterOpcServerList();

    QtEventLoop loop;
    loop.InstallAsDefault();
    InstallErrorDisplay();
    InstallCredentialsProvider();

    // An option this version does not know is named on the standard error and otherwise ignored.
    if (!parser.parse(QApplication::arguments()))
        qWarning("tagscope: %s", qPrintable(parser.errorText()));
    const QString shot = parser.value(kScreenshot);
    const int delay = parser.value(kScreenshotDelay).toInt();
    const QStringList files = parser.positionalArguments();
    const QString session = files.isEmpty() ? QString() : files.first();

    TForm1 form;
    form.StartSession = session;
    form.show();
    const QString dump = parser.value(kDumpItems);
    QTimer dumpTimer;
    if (!dump.isEmpty()) {
        QObject::connect(&dumpTimer, &QTimer::timeout, &form,
                         [&form, dump] { DumpItems(*form.ItemModel, dump); });
        dumpTimer.start(500);
    }
    if (!shot.isEmpty()) {
        QTimer::singleShot(delay, &form, [&form, shot] {
            bool ok = form.grab().save(shot);
            QApplication::exit(ok ? 0 : 1);
        });
    }
    return QApplication::exec();
}
