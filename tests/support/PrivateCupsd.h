#pragma once

#include <csignal>
#include <cstdint>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include "platform/Socket.h"
#include "support/TestSupport.h"

// A print scheduler of the test's own (tests/tools/private_cupsd.sh) on a free loopback port,
// with CUPS_SERVER pointed at it while it lives. With adminNeedsLogin, adding a queue is
// refused.
class PrivateCupsd
{
public:
    explicit PrivateCupsd(bool adminNeedsLogin)
    {
        QStringList args{qEnvironmentVariable("ZUNARO_TEST_TOOLS") +
                             QStringLiteral("/private_cupsd.sh"),
                         m_dir.path(), QString::number(m_port)};
        if (adminNeedsLogin) {
            args << QStringLiteral("admin-login");
        }
        m_cupsd.setProcessChannelMode(QProcess::ForwardedChannels);
        m_cupsd.start(QStringLiteral("/bin/sh"), args);
        m_up = WaitUntil([this] {
            const SOCKET s = ConnectLoopback(m_port);
            closesocket(s);
            return s != INVALID_SOCKET;
        });
        qputenv("CUPS_SERVER", QStringLiteral("127.0.0.1:%1").arg(m_port).toUtf8());
        qputenv("CUPS_SERVERROOT", m_dir.path().toUtf8());
    }
    ~PrivateCupsd()
    {
        Resume();
        m_cupsd.terminate();
        m_cupsd.waitForFinished(5000);
        qunsetenv("CUPS_SERVER");
        qunsetenv("CUPS_SERVERROOT");
    }
    PrivateCupsd(const PrivateCupsd&) = delete;
    PrivateCupsd& operator=(const PrivateCupsd&) = delete;

    bool up() const { return m_up; }
    // Freezes the scheduler: it accepts connections and never answers.
    void Freeze() { Signal(SIGSTOP); }
    void Resume() { Signal(SIGCONT); }

private:
    void Signal(int signal)
    {
        const int pid =
            ReadBytes(m_dir.path() + QStringLiteral("/state/cupsd.pid")).trimmed().toInt();
        if (pid > 0) {
            ::kill(pid, signal);
        }
    }

    QTemporaryDir m_dir{QDir::tempPath() + QStringLiteral("/zunaro-cups-XXXXXX")};
    std::uint16_t m_port = FreePort();
    QProcess m_cupsd;
    bool m_up = false;
};
