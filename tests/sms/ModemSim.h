#pragma once

// The modem simulator (tests/tools/modem_sim.py) as a test fixture: a real pty pair whose
// slave side is published at a link that the profile names as COM1.

#include <csignal>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QString>
#include <QStringList>

#include "platform/Tick.h"

#include "platform/Profile.h"
#include "sms/GsmModem.h"
#include "support/TestSupport.h"

struct SimOptions
{
    QString smsc = QStringLiteral("+8613800000500");
    QStringList rules;                          // COMMAND=ACTION[*COUNT]
    std::vector<std::pair<int, QString>> inbox; // storage index, PDU
    bool garbageStream = false;
};

class ModemSim
{
public:
    static QString Link() { return TestHome() + QStringLiteral("/ttyModem"); }
    static QString TranscriptPath() { return TestHome() + QStringLiteral("/transcript.bin"); }

    // Points COM1 at the simulator's link and forgets the last transcript.
    static void Prepare()
    {
        WriteProfileString(QStringLiteral("Ports"), QStringLiteral("COM1"), Link());
        QFile::remove(TranscriptPath());
    }

    explicit ModemSim(const SimOptions& options = {})
    {
        QString tools = qEnvironmentVariable("ZUNARO_TEST_TOOLS");
        if (tools.isEmpty()) { // run by hand rather than by ctest
            tools =
                QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/../tools");
        }
        QStringList args{tools + QStringLiteral("/modem_sim.py"),
                         QStringLiteral("--link"),
                         Link(),
                         QStringLiteral("--transcript"),
                         TranscriptPath(),
                         QStringLiteral("--smsc"),
                         options.smsc};
        for (const QString& r : options.rules) {
            args << QStringLiteral("--rule") << r;
        }
        if (!options.inbox.empty()) {
            QJsonArray list;
            for (const auto& [index, pdu] : options.inbox) {
                list.append(QJsonArray{index, pdu});
            }
            const QString path = TestHome() + QStringLiteral("/inbox.json");
            QFile f(path);
            f.open(QIODevice::WriteOnly | QIODevice::Truncate);
            f.write(QJsonDocument(list).toJson());
            f.close();
            args << QStringLiteral("--inbox") << path;
        }
        if (options.garbageStream) {
            args << QStringLiteral("--garbage-stream");
        }
        QFile::remove(Link());
        // posix_spawn rather than QProcess, whose way of starting children trips the thread
        // sanitizer.
        std::vector<std::string> argv{"/usr/bin/python3"};
        for (const QString& a : args) {
            argv.push_back(a.toStdString());
        }
        std::vector<char*> ptrs;
        for (std::string& a : argv) {
            ptrs.push_back(a.data());
        }
        ptrs.push_back(nullptr);
        m_started = posix_spawn(&m_pid, ptrs[0], nullptr, nullptr, ptrs.data(), environ) == 0 &&
                    WaitUntil([] { return QFileInfo::exists(Link()); }, 10000);
    }

    ~ModemSim() { Stop(); }

    bool Started() const { return m_started; }

    void Stop()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            int status = 0;
            for (int i = 0; i < 250 && waitpid(m_pid, &status, WNOHANG) == 0; ++i) {
                SleepMs(20);
                if (i == 249) {
                    kill(m_pid, SIGKILL);
                    waitpid(m_pid, &status, 0);
                }
            }
            m_pid = -1;
        }
    }

    // Every byte the simulator received so far, across restarts.
    static QByteArray Transcript()
    {
        QFile f(TranscriptPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    pid_t m_pid = -1;
    bool m_started = false;
};

// Pauses short enough for tests; the code paths are the driver's own.
inline ModemTiming FastTiming()
{
    ModemTiming t;
    t.stopPollMs = 5;
    t.idlePauseMs = 20;
    t.sendWaitMs = 100;
    t.sendRetryPauseMs = 20;
    t.listPauseMs = 10;
    t.listTimeoutMs = 1500;
    t.deletePauseMs = 20;
    t.deleteRetryPauseMs = 30;
    t.readConstantMs = 300;
    t.writeConstantMs = 500;
    return t;
}
