// The main window against the COM transport and the simulated OPC DA servers of this process:
// each connects by ProgID, shows its status, and a shutdown request disconnects the window.
#include <QLabel>
#include <QTemporaryDir>
#include <QToolButton>

#include "AppTestSupport.h"
#include "QtEventLoop.h"
#include "com/runtime/ComPlatform.h"
#include "comda/SimServers.h"
#include "uMain.h"

using namespace velqor;

namespace {

TEST(ComLive, EachSimulatedServerConnectsByProgIdAndItsShutdownDisconnects) {
    apptest::RecordDisplays();
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    sim::RegisterSimulatedServers();
    QtEventLoop loop;
    loop.InstallAsDefault();
    for (const char* progId : {"Velqor.SimDA20.1", "Velqor.SimDA20Flat.1"}) {
        SCOPED_TRACE(progId);
        QTemporaryDir prog, conf;
        qputenv("TAGSCOPE_SERVER", progId);
        TForm1 form;
        form.Ini = IniMemory(prog.path(), "tagscope", conf.path());
        form.show();
        qunsetenv("TAGSCOPE_SERVER");

        form.bConnect->click();
        ASSERT_TRUE(form.OPCServer->Active())
            << (apptest::Recorded().errors.empty() ? "" : apptest::Recorded().errors[0]);
        EXPECT_EQ(form.OPCServer->Protocol(), coCOM);
        form.Timer1Timer();
        EXPECT_EQ(form.LState->text(), "running");

        EXPECT_EQ(sim::RequestSimulatedShutdown("maintenance"), 1);
        EXPECT_TRUE(apptest::ProcessUntil([&] { return !form.OPCServer->Active(); }, 10000));
        EXPECT_TRUE(apptest::Recorded().errors.empty()) << apptest::Recorded().errors[0];
    }
    sim::UnregisterSimulatedServers();
    CoUninitialize();
}

}  // namespace
