#include <csignal>

#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include "platform/Signals.h"

namespace {

// Raises sig at this process and runs the event loop until it is delivered (or 5 s pass).
// Returns the signal numbers delivered.
QList<int> RaiseAndCollect(TerminationSignals& source, int sig)
{
    QList<int> received;
    QEventLoop loop;
    QObject::connect(&source, &TerminationSignals::terminationRequested, &loop, [&](int n) {
        received.append(n);
        loop.quit();
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    raise(sig);
    loop.exec();
    return received;
}

bool HasDefaultHandler(int sig)
{
    struct sigaction current = {};
    sigaction(sig, nullptr, &current);
    return current.sa_handler == SIG_DFL;
}

} // namespace

TEST(Signals, TermAndInt_DeliveredThroughEventLoop)
{
    TerminationSignals termination;
    ASSERT_TRUE(termination.IsValid());
    EXPECT_EQ(RaiseAndCollect(termination, SIGTERM), QList<int>{SIGTERM});
    {
        TerminationSignals second; // one instance at a time; this one leaves the first alone
        EXPECT_FALSE(second.IsValid());
    }
    EXPECT_EQ(RaiseAndCollect(termination, SIGINT), QList<int>{SIGINT});
}

TEST(Signals, Destroyed_DefaultHandlersBackAndReinstallable)
{
    {
        TerminationSignals termination;
        ASSERT_TRUE(termination.IsValid());
    }
    EXPECT_TRUE(HasDefaultHandler(SIGTERM));
    EXPECT_TRUE(HasDefaultHandler(SIGINT));
    TerminationSignals again;
    ASSERT_TRUE(again.IsValid());
    EXPECT_EQ(RaiseAndCollect(again, SIGINT), QList<int>{SIGINT});
}
