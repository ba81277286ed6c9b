#include "platform/background_task.h"

#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>

using namespace fotivela;

TEST(BackgroundTask, DeliversOnTheMainThreadUnlessCancelled)
{
    QThread* mainThread = QThread::currentThread();
    std::atomic<bool> ranOffMain = false;
    int delivered = 0;
    runInBackground(
        TaskPriority::utility,
        [&](std::stop_token) {
            ranOffMain = QThread::currentThread() != mainThread;
            return 41;
        },
        [&](int value) {
            EXPECT_EQ(QThread::currentThread(), mainThread);
            delivered = value + 1;
        });
    EXPECT_TRUE(QTest::qWaitFor([&] { return delivered != 0; }, 5000));
    EXPECT_EQ(delivered, 42);
    EXPECT_TRUE(ranOffMain);

    // Cancelled while running: the work sees the stop request and nothing is delivered.
    std::atomic<bool> started = false, sawStop = false;
    bool lateDelivery = false;
    TaskHandle handle = runInBackground(
        TaskPriority::userInitiated,
        [&](std::stop_token token) {
            started = true;
            while (!token.stop_requested())
                QThread::msleep(1);
            sawStop = true;
        },
        [&] { lateDelivery = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return started.load(); }, 5000));
    handle.cancel();
    EXPECT_TRUE(QTest::qWaitFor([&] { return sawStop.load(); }, 5000));
    QTest::qWait(20);
    EXPECT_FALSE(lateDelivery);
    EXPECT_TRUE(handle.isCancelled());
}
