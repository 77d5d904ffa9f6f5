// Sessions against the XML-DA simulation service: saved, reopened in a fresh window, and
// malformed files refused without changing anything.
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "LiveSimWindow.h"
#include "SessionFile.h"
#include "VelqorDlgBrowse.h"
#include "WindowSettings.h"

using namespace velqor;

namespace {

using LiveSession = apptest::LiveSimWindow;

void WriteText(const QString& path, const QByteArray& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

TEST_F(LiveSession, SavedSessionReopensInAFreshWindowWithEverythingAndReportsRefusedItems) {
    TVelqorGroup* g1 = AddGroupWith("Tank", {"Plant/Area1/Tank1/Level", "Static/Int"}, 250);
    g1->SetDeadBand(2.5f);
    g1->OPCItems().Items(1)->SetIsActive(false);
    AddGroupWith("Other", {"Writable/Double"});
    form->OPCServer->OPCGroups().FindGroup("Other")->SetIsActive(false);
    // An item the server refuses is kept in the session and reported when it is opened.
    g1->OPCItems().AddItem("Plant/NoSuchItem");
    const QString path = prog.filePath("plant.tagscope.json");
    form->ChooseSessionFile = [&](bool save, const QString&) {
        EXPECT_TRUE(save);
        return path;
    };
    form->SaveSession1->trigger();
    const Session saved = CaptureSession(*form->OPCServer);
    ASSERT_EQ(saved.Groups.size(), 2u);
    form.reset();
    apptest::RecordDisplays();

    form = NewWindow();
    form->OpenSession(path);
    ASSERT_TRUE(form->OPCServer->Active());
    EXPECT_EQ(CaptureSession(*form->OPCServer), saved);
    EXPECT_EQ(form->ServerCombo->currentText().toStdString(), sim->url());
    ASSERT_EQ(form->TreeView1->topLevelItemCount(), 2);
    EXPECT_EQ(form->TreeView1->topLevelItem(1)->text(0), "Other");
    const TVelqorGroup& tank = *form->OPCServer->OPCGroups().FindGroup("Tank");
    EXPECT_EQ(tank.UpdateRate(), 250);
    EXPECT_FLOAT_EQ(tank.DeadBand(), 2.5f);
    EXPECT_NE(tank.ServerHandle(), -1) << "created on the server";
    // The first group's rows show live values.
    EXPECT_TRUE(apptest::ProcessUntil([&] {
        return RowOf("Plant/Area1/Tank1/Level") >= 0 &&
               Cell(RowOf("Plant/Area1/Tank1/Level"), colQuality) == "good";
    }));
    bool reported = false;
    for (const auto& m : apptest::Recorded().messages)
        reported = reported || (m.find("Cannot add Items:") == 0 &&
                                m.find("Plant/NoSuchItem") != std::string::npos);
    EXPECT_TRUE(reported);
    const int refused = RowOf("Plant/NoSuchItem");
    ASSERT_GE(refused, 0);
    EXPECT_EQ(form->ItemModel->Row(refused)->State, RowState::Failed);
}

TEST_F(LiveSession, AMalformedSessionFileGivesAClearErrorAndChangesNothing) {
    AddGroupWith("Keep", {"Static/Int"});
    const Session before = CaptureSession(*form->OPCServer);
    // A session of one group G with these fields, and one item.
    const auto group = [](const std::string& fields, const std::string& item = "Static/Int") {
        return "{\"format\": \"tagscope-session\", \"version\": 1, \"server\": \"x\", "
               "\"groups\": [{\"name\": \"G\", " +
               fields + "\"items\": [{\"itemID\": \"" + item + "\"}]}]}";
    };
    const struct {
        std::string text;
        std::string says;
    } files[] = {
        {group("\"updateRate\": -5, "), "\"updateRate\" is out of range (1 to 2147483647)"},
        {group("\"updateRate\": 0, "), "\"updateRate\" is out of range"},
        {group("\"updateRate\": 18446744073709551615, "), "\"updateRate\" is out of range"},
        {group("\"holdTime\": -1, "), "\"holdTime\" is out of range (0 to"},
        {group("\"waitTime\": -1, "), "\"waitTime\" is out of range (0 to"},
        {group("\"deadBand\": -50, "), "\"deadBand\" is out of range (0 to 100)"},
        {group("\"deadBand\": 1000, "), "\"deadBand\" is out of range"},
        {group("\"deadBand\": 1e300, "), "\"deadBand\" is out of range"},
        {group("\"deadBand\": 1e400, "), "is not a usable session file: it holds a number"},
        {group("", std::string(4097, 'a')), "group 1, item 1 is longer than 4096 bytes"},
        {std::string(16 << 20, ' ') + "{}", "is larger than 16 MiB"},
        {"{\"format\": \"tagscope-session\", \"version\": 1,", "not valid JSON"},
        {"[1, 2]", "not a JSON object"},
        {"{\"format\": \"other\", \"version\": 1, \"server\": \"x\", \"groups\": []}",
         "\"format\" is not"},
        {"{\"format\": \"tagscope-session\", \"version\": 1, \"server\": \"x\", \"groups\": "
         "[{\"name\": \"G\", \"updateRate\": \"fast\", \"items\": []}]}",
         "group 1: \"updateRate\" is not a number"},
        {"{\"format\": \"tagscope-session\", \"version\": 1, \"server\": \"x\", \"groups\": "
         "[{\"name\": \"G\", \"items\": []}, {\"name\": \"G\", \"items\": []}]}",
         "two groups are named \"G\""},
        {"{\"format\": \"tagscope-session\", \"version\": 1, \"server\": \"x\", \"groups\": "
         "[{\"name\": \"G\", \"items\": [{\"accessPath\": \"\"}]}]}",
         "group 1, item 1 has no \"itemID\""},
    };
    const QString path = prog.filePath("bad.json");
    for (const auto& f : files) {
        WriteText(path, QByteArray::fromStdString(f.text));
        apptest::RecordDisplays();
        form->ChooseSessionFile = [&](bool, const QString&) { return path; };
        form->OpenSession1->trigger();
        ASSERT_EQ(apptest::Recorded().errors.size(), 1u) << f.text.substr(0, 200);
        EXPECT_NE(apptest::Recorded().errors[0].find(f.says), std::string::npos)
            << apptest::Recorded().errors[0];
        EXPECT_NE(apptest::Recorded().errors[0].find("bad.json"), std::string::npos);
        EXPECT_TRUE(form->OPCServer->Active());
        EXPECT_EQ(CaptureSession(*form->OPCServer), before) << f.text.substr(0, 200);
        EXPECT_EQ(form->ItemModel->Count(), 1);
    }
}

// Opens the browse dialog, hands it to fn, and closes it.
void Browse(TForm1& form, const std::function<void(TVelqorDlgBrowse*)>& fn) {
    bool ran = false;
    apptest::WhenDialog<TVelqorDlgBrowse>([&](TVelqorDlgBrowse* dlg) {
        fn(dlg);
        ran = true;
        dlg->reject();
    });
    form.A1->trigger();
    EXPECT_TRUE(ran);
}

TEST_F(LiveSession, StartSessionReopenAtStartAndTheBrowsePositionPerServer) {
    AddGroupWith("G", {"Static/Int"});
    QString left;
    Browse(*form, [&](TVelqorDlgBrowse* dlg) {
        for (const char* branch : {"Plant", "Area1"}) {
            auto found = dlg->ListView->findItems(branch, Qt::MatchExactly);
            ASSERT_EQ(found.size(), 1);
            dlg->ListView->clearSelection();
            found[0]->setSelected(true);
            dlg->bOk->click();
        }
        left = dlg->ePath->text();
    });
    ASSERT_FALSE(left.isEmpty());
    const QString path = prog.filePath("start.json");
    form->ChooseSessionFile = [&](bool, const QString&) { return path; };
    form->SaveSession1->trigger();
    const Session saved = CaptureSession(*form->OPCServer);
    form.reset();

    // Given on the command line: opened once the window shows; browsing resumes where it was.
    form = std::make_unique<TForm1>();
    form->Ini = IniMemory(prog.path(), "tagscope", conf.path());
    form->StartSession = path;
    form->show();
    ASSERT_TRUE(apptest::ProcessUntil([&] { return form->OPCServer->Active(); }));
    EXPECT_EQ(CaptureSession(*form->OPCServer), saved);
    // Back always leads out of a resumed position (to the root: the way there is not known).
    Browse(*form, [&](TVelqorDlgBrowse* dlg) {
        EXPECT_EQ(dlg->ePath->text(), left);
        dlg->bBack->click();
        EXPECT_EQ(dlg->ListView->findItems("Plant", Qt::MatchExactly).size(), 1);
    });
    EXPECT_FALSE(form->ReopenSession1->isChecked());
    form.reset();

    // Not reopened unless asked to; then reopened at every start.
    form = NewWindow();
    apptest::ProcessFor(100);
    EXPECT_FALSE(form->OPCServer->Active());
    form->ReopenSession1->trigger();
    form.reset();
    form = NewWindow();
    EXPECT_TRUE(form->ReopenSession1->isChecked());
    ASSERT_TRUE(apptest::ProcessUntil([&] { return form->OPCServer->Active(); }));
    EXPECT_EQ(CaptureSession(*form->OPCServer), saved);
    EXPECT_TRUE(apptest::Recorded().errors.empty()) << apptest::Recorded().errors[0];

    // A remembered branch that is gone: browsing starts at the root, without an error.
    const QString server = QString::fromStdString(form->OPCServer->ServerName());
    form.reset();
    TVelqorBrowseItem gone;
    gone.ItemName = "No/Such/Branch";
    WindowSettings(IniMemory(prog.path(), "tagscope", conf.path()).WritePath())
        .SaveBrowsePosition(server, gone);
    form = NewWindow();
    ASSERT_TRUE(apptest::ProcessUntil([&] { return form->OPCServer->Active(); }));
    Browse(*form, [&](TVelqorDlgBrowse* dlg) {
        EXPECT_EQ(dlg->ListView->findItems("Plant", Qt::MatchExactly).size(), 1);
    });
    EXPECT_TRUE(apptest::Recorded().errors.empty()) << apptest::Recorded().errors[0];
}

}  // namespace
