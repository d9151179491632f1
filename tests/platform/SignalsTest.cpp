#include <csignal>

#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include "platform/Signals.h"

TEST(Signals, TermAndInt_ReachTheEventLoopDefaultsBackWhenDestroyed)
{
    const auto raiseAndReceive = [](TerminationSignals& source, int sig) {
        int received = 0;
        QEventLoop loop;
        QObject::connect(&source, &TerminationSignals::terminationRequested, &loop, [&](int n) {
            received = n;
            loop.quit();
        });
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        raise(sig);
        loop.exec();
        return received;
    };
    {
        TerminationSignals termination;
        ASSERT_TRUE(termination.IsValid());
        EXPECT_EQ(raiseAndReceive(termination, SIGTERM), SIGTERM);
        EXPECT_FALSE(TerminationSignals().IsValid()); // one at a time; the first stays
        EXPECT_EQ(raiseAndReceive(termination, SIGINT), SIGINT);
    }
    struct sigaction current = {};
    sigaction(SIGTERM, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
    TerminationSignals again; // installable again
    EXPECT_EQ(raiseAndReceive(again, SIGTERM), SIGTERM);
}
