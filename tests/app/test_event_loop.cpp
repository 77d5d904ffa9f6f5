// The Qt-backed event loop: order of posted work across threads, timers, message windows and
// the error display for exceptions raised in message handlers; busy calls and a close request.
#include <QThread>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "AppTestSupport.h"
#include "BusyCall.h"
#include "ErrorDisplay.h"
#include "QtEventLoop.h"
#include "contract/CallCancel.h"
#include "contract/VelqorError.h"

namespace {

TEST(QtEventLoop, PostedFunctionsRunOnGuiThreadInPostingOrder) {
    QtEventLoop loop;
    std::vector<int> seen;
    std::atomic<bool> wrongThread{false};
    QThread* gui = QThread::currentThread();
    std::thread producer([&] {
        for (int i = 0; i < 1000; ++i)
            loop.Post([&, i] {
                if (QThread::currentThread() != gui) wrongThread = true;
                seen.push_back(i);
            });
    });
    producer.join();
    EXPECT_TRUE(seen.empty()) << "nothing runs before the loop turns";
    ASSERT_TRUE(apptest::ProcessUntil([&] { return seen.size() == 1000; }));
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(seen[size_t(i)], i);
    EXPECT_FALSE(wrongThread);
}

TEST(QtEventLoop, NumberedTimersRepeatAndStop) {
    QtEventLoop loop;
    int ticks = 0;
    int id = loop.StartTimer(5, [&] { ++ticks; });
    EXPECT_GT(id, 0);
    ASSERT_TRUE(apptest::ProcessUntil([&] { return ticks >= 3; }));
    loop.StopTimer(id);
    int at = ticks;
    apptest::ProcessFor(40);
    EXPECT_EQ(ticks, at);
    EXPECT_EQ(loop.TimerCount(), 0u);
}

TEST(QtEventLoop, TimerMayStopItselfFromItsTick) {
    QtEventLoop loop;
    int ticks = 0;
    int id = 0;
    id = loop.StartTimer(1, [&] {
        ++ticks;
        loop.StopTimer(id);
    });
    apptest::ProcessFor(40);
    EXPECT_EQ(ticks, 1);
}

TEST(QtEventLoop, HeldLoopKeepsWorkAndTicksUntilReleased) {
    QtEventLoop loop;
    std::vector<std::string> seen;
    int id = loop.StartTimer(1, [&] { seen.push_back("tick"); });
    loop.Hold();
    loop.Post([&] { seen.push_back("a"); });
    loop.Post([&] { seen.push_back("b"); });
    apptest::ProcessFor(30);  // several ticks fall due and the queue is woken
    EXPECT_TRUE(seen.empty());
    loop.StopTimer(id);  // a timer stopped while held does not tick at release
    int other = loop.StartTimer(1, [&] { seen.push_back("other"); });
    apptest::ProcessFor(10);
    loop.Release();
    EXPECT_TRUE(seen.empty()) << "the code after the release runs first";
    ASSERT_TRUE(apptest::ProcessUntil(
        [&] { return std::find(seen.begin(), seen.end(), "b") != seen.end(); }));
    // The noted tick came first, the queue kept its order, the stopped timer never ticked.
    auto a = std::find(seen.begin(), seen.end(), "a");
    ASSERT_NE(a, seen.end());
    EXPECT_EQ(seen.front(), "other");
    EXPECT_EQ(*(a + 1), "b");
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "tick"), 0);
    loop.StopTimer(other);
}

TEST(QtEventLoop, TimersCanBeStartedAndStoppedFromAWorkerThread) {
    QtEventLoop loop;
    std::atomic<int> ticks{0};
    std::atomic<bool> wrongThread{false};
    QThread* gui = QThread::currentThread();
    std::atomic<int> id{0};
    std::atomic<bool> stopped{false};
    std::thread worker([&] {
        id = loop.StartTimer(1, [&] {
            if (QThread::currentThread() != gui) wrongThread = true;
            ++ticks;
        });
    });
    ASSERT_TRUE(apptest::ProcessUntil([&] { return ticks.load() >= 2; }));
    worker.join();
    std::thread stopper([&] {
        loop.StopTimer(id);
        stopped = true;
    });
    ASSERT_TRUE(apptest::ProcessUntil([&] { return stopped.load(); }));
    stopper.join();
    EXPECT_EQ(loop.TimerCount(), 0u);
    EXPECT_FALSE(wrongThread);
}

TEST(QtEventLoop, MessageWindowDeliversInOrderAndShowsHandlerErrors) {
    apptest::RecordDisplays();
    QtEventLoop loop;
    std::vector<uint32_t> got;
    auto win = velqor::MessageWindow::Create(loop, [&](uint32_t msg, uintptr_t, auto) {
        got.push_back(msg);
        if (msg == velqor::WM_VELQOR_WRITEERROR)
            throw velqor::EOPCItemException("Cannot write Items:");
        if (msg == velqor::WM_VELQOR_WRITECOMPLETE) throw velqor::EAbort();
    });
    std::thread t([&] {
        win->Post(velqor::WM_VELQOR_DATACHANGE, 3);
        win->Post(velqor::WM_VELQOR_WRITEERROR, 0);
        win->Post(velqor::WM_VELQOR_WRITECOMPLETE, 0);
        win->Post(velqor::WM_VELQOR_SHUTDOWN, 0);
    });
    t.join();
    ASSERT_TRUE(apptest::ProcessUntil([&] { return got.size() == 4; }));
    EXPECT_EQ(got,
              (std::vector<uint32_t>{velqor::WM_VELQOR_DATACHANGE, velqor::WM_VELQOR_WRITEERROR,
                                     velqor::WM_VELQOR_WRITECOMPLETE, velqor::WM_VELQOR_SHUTDOWN}));
    ASSERT_EQ(apptest::Recorded().errors.size(), 1u) << "the silent abort shows nothing";
    EXPECT_EQ(apptest::Recorded().errors[0], "Cannot write Items:");
}

TEST(QtEventLoop, WindowTimerDrivesTimerMessages) {
    QtEventLoop loop;
    int ticks = 0;
    auto win = velqor::MessageWindow::Create(loop, [&](uint32_t msg, uintptr_t w, auto) {
        if (msg == velqor::WM_VELQOR_TIMER && w == 1) ++ticks;
    });
    win->SetTimer(1, 5);
    ASSERT_TRUE(apptest::ProcessUntil([&] { return ticks >= 2; }));
    win->Destroy();
    int at = ticks;
    apptest::ProcessFor(30);
    EXPECT_EQ(ticks, at);
}

TEST(QtEventLoop, ExceptionsFromPostedWorkAreShownNotFatal) {
    apptest::RecordDisplays();
    QtEventLoop loop;
    bool after = false;
    loop.Post([] { throw std::runtime_error("boom"); });
    loop.Post([] { throw velqor::EAbort(); });
    loop.Post([&] { after = true; });
    ASSERT_TRUE(apptest::ProcessUntil([&] { return after; }));
    EXPECT_EQ(apptest::Recorded().errors, std::vector<std::string>{"boom"});
}

TEST(QtEventLoop, InstalledAsDefaultWhileItLives) {
    {
        QtEventLoop loop;
        loop.InstallAsDefault();
        EXPECT_EQ(&velqor::EventLoop::Default(), static_cast<velqor::EventLoop*>(&loop));
    }
    EXPECT_NE(dynamic_cast<velqor::PlainEventLoop*>(&velqor::EventLoop::Default()), nullptr);
}

}  // namespace

// A window closed while a call runs asks the call to end, and closes once it has.
TEST(BusyCall, ACloseDuringACallCancelsItAndIsNotLost) {
    for (BusyKind kind : {BusyKind::Background, BusyKind::Interactive}) {
        QWidget window;
        window.show();
        bool cancelled = false;
        RunBusy(
            "Waiting...",
            [&] {
                QMetaObject::invokeMethod(&window, &QWidget::close, Qt::QueuedConnection);
                for (int i = 0; i < 500 && !velqor::CallCancelScope::CurrentCancelled(); ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                cancelled = velqor::CallCancelScope::CurrentCancelled();
            },
            kind);
        EXPECT_TRUE(cancelled);
        EXPECT_TRUE(apptest::ProcessUntil([&] { return !window.isVisible(); }));
    }
}
