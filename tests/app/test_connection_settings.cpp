// The connection settings of an XML-DA server over HTTPS, kept per server: the certificate
// authority file, and accepting a certificate that is out of date or for another host, which
// only then connects and is warned of in the status bar on every connect.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>

#include "AppTestSupport.h"
#include "ConnectionSettingsDlg.h"
#include "LoopbackServers.h"
#include "QtEventLoop.h"
#include "uMain.h"
#include "xmlda/XmlDaSim.h"

namespace {

using apptest::Recorded;

// Sets the dialog's fields and confirms it, through the window's own menu entry.
void SetConnection(TForm1& form, const std::string& caFile, bool acceptBad) {
    apptest::WhenDialog<TConnectionSettingsDlg>([&](TConnectionSettingsDlg* dlg) {
        dlg->eCAFile->setText(QString::fromStdString(caFile));
        dlg->cAcceptBadCert->setChecked(acceptBad);
        dlg->bOk->click();
    });
    form.ConnectionSettings1->trigger();
}

TEST(ConnectionSettings, BadCertificateConnectsOnlyWhenAcceptedForThatServer) {
    apptest::RecordDisplays();
    qunsetenv("TAGSCOPE_SERVER");
    velqor::xmldasim::Service sim;
    sim.start();
    velqor::test::TempDir dir;
    velqor::test::TestAuthority authority;
    const std::string caFile = authority.WriteCertificate(dir.Path() + "/ca.pem");
    velqor::test::TlsRelay relay(authority.Issue("localhost", -30, -1), sim.port());
    const QString url = QString::fromStdString(relay.URL("/opc/xmlda"));

    QtEventLoop loop;
    loop.InstallAsDefault();
    QTemporaryDir prog, conf;
    TForm1 form;
    form.Ini = IniMemory(prog.path(), "tagscope", conf.path());
    form.show();
    form.ServerCombo->setEditText(url);

    // The authority is trusted, the expired certificate is not accepted yet.
    SetConnection(form, caFile, false);
    form.bConnect->click();
    EXPECT_FALSE(form.OPCServer->Active());
    ASSERT_FALSE(Recorded().errors.empty());
    EXPECT_NE(Recorded().errors.back().find("expired"), std::string::npos)
        << Recorded().errors.back();

    SetConnection(form, caFile, true);
    form.bConnect->click();
    ASSERT_TRUE(form.OPCServer->Active()) << Recorded().errors.back();
    EXPECT_TRUE(form.StatusLine->text().contains("warning: the certificate of " + url))
        << form.StatusLine->text().toStdString();
    form.BDisconnect->click();

    // Another server keeps its own settings: nothing accepted there.
    EXPECT_EQ(form.Settings().Connection(url + "/other"), ConnectionOptions{});
    EXPECT_TRUE(form.Settings().Connection(url).AcceptBadCert);
    sim.stop();
}

}  // namespace
