// The credentials question installed as the poster's provider: asked on the GUI thread for a
// poll thread, remembered per address for later poll threads, cancel gives nothing.
#include <QLineEdit>
#include <QPushButton>
#include <atomic>
#include <thread>

#include "AppTestSupport.h"
#include "BusyCall.h"
#include "CredentialsDlg.h"
#include "QtEventLoop.h"

using velqor::TCredentials;
using velqor::TCredentialsRequest;

namespace {

std::optional<TCredentials> AskFromThread(const TCredentialsRequest& r) {
    std::optional<TCredentials> answer;
    std::atomic<bool> done{false};
    std::thread t([&] {
        answer = velqor::GetCredentialsProvider()(r);
        done = true;
    });
    EXPECT_TRUE(apptest::ProcessUntil([&] { return done.load(); }, 10000));
    t.join();
    return answer;
}

// Each case installs the question on a Qt loop with no answer remembered, and removes it again.
class Credentials : public ::testing::Test {
  protected:
    void SetUp() override {
        loop.InstallAsDefault();
        ForgetEnteredCredentials();
    }
    void TearDown() override { velqor::SetCredentialsProvider(nullptr); }

    QtEventLoop loop;
};

TEST_F(Credentials, PollThreadAsksGuiOnceThenReusesAnswer) {
    InstallCredentialsProvider();
    TCredentialsRequest r;
    r.URL = "http://127.0.0.1:1/a";
    r.Realm = "plant";
    apptest::WhenDialog<TCredentialsDlg>([](TCredentialsDlg* dlg) {
        EXPECT_EQ(dlg->ePassword->echoMode(), QLineEdit::Password);
        dlg->eUser->setText("operator");
        dlg->ePassword->setText("s3cret");
        dlg->bOk->click();
    });
    auto a = AskFromThread(r);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->User, "operator");
    EXPECT_EQ(a->Password, "s3cret");

    // A later poll thread for the same address gets the answer without a question.
    auto again = AskFromThread(r);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->User, "operator");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // After a refusal the user is asked again; cancelling gives nothing.
    r.Attempt = 2;
    apptest::WhenModal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    EXPECT_FALSE(AskFromThread(r));
}

TEST_F(Credentials, ACallFromTheWindowIsAskedAlthoughTheLoopIsHeld) {
    InstallCredentialsProvider(/*waitMs=*/10000);
    TCredentialsRequest r;
    r.URL = "http://127.0.0.1:1/held";
    apptest::WhenDialog<TCredentialsDlg>([](TCredentialsDlg* dlg) {
        dlg->eUser->setText("engineer");
        dlg->bOk->click();
    });
    std::optional<TCredentials> answer;
    RunBusy("Connecting...", [&] { answer = velqor::GetCredentialsProvider()(r); });
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->User, "engineer");
}

TEST_F(Credentials, UnansweredQuestionTimesOutAsCancelled) {
    InstallCredentialsProvider(/*waitMs=*/50);
    TCredentialsRequest r;
    r.URL = "http://127.0.0.1:1/never-asked-before";
    std::optional<TCredentials> answer = TCredentials{"x", "y"};
    std::thread t([&] { answer = velqor::GetCredentialsProvider()(r); });
    t.join();  // no events processed: the question is never answered
    EXPECT_FALSE(answer);
    // The queued question still opens later; close it.
    bool closed = false;
    apptest::WhenModal([&](QWidget* w) {
        qobject_cast<QDialog*>(w)->reject();
        closed = true;
    });
    EXPECT_TRUE(apptest::ProcessUntil([&] { return closed; }));
}

}  // namespace
