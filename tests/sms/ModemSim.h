#pragma once

// The modem simulator (tests/tools/modem_sim.py) as a test fixture: a real pty pair whose
// slave side is published at a link that the profile names as COM1.

#include <csignal>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

#include "platform/Profile.h"
#include "platform/Tick.h"
#include "sms/GsmModem.h"
#include "support/TestSupport.h"

struct SimOptions
{
    SimOptions(const QStringList& r = {}) : rules(r) {}
    QStringList rules; // COMMAND=ACTION[*COUNT]
    QString smsc = QStringLiteral("+8613800000500");
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

    explicit ModemSim(const SimOptions& o = {})
    {
        QString tools = qEnvironmentVariable("ZUNARO_TEST_TOOLS");
        if (tools.isEmpty()) { // run by hand rather than by ctest
            tools = QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/../tools";
        }
        QStringList args{"/usr/bin/python3", tools + "/modem_sim.py", "--link", Link(),
                         "--transcript",     TranscriptPath(),        "--smsc", o.smsc};
        for (const QString& r : o.rules) {
            args << "--rule" << r;
        }
        if (!o.inbox.empty()) {
            QJsonArray list;
            for (const auto& [index, pdu] : o.inbox) {
                list.append(QJsonArray{index, pdu});
            }
            QFile f(TestHome() + "/inbox.json");
            f.open(QIODevice::WriteOnly | QIODevice::Truncate);
            f.write(QJsonDocument(list).toJson());
            args << "--inbox" << f.fileName();
        }
        if (o.garbageStream) {
            args << "--garbage-stream";
        }
        QFile::remove(Link());
        // posix_spawn rather than QProcess, whose way of starting children trips the thread
        // sanitizer.
        std::vector<std::string> argv;
        std::vector<char*> ptrs;
        for (const QString& a : args) {
            argv.push_back(a.toStdString());
        }
        for (std::string& a : argv) {
            ptrs.push_back(a.data());
        }
        ptrs.push_back(nullptr);
        m_started = posix_spawn(&m_pid, ptrs[0], nullptr, nullptr, ptrs.data(), environ) == 0 &&
                    WaitUntil([] { return QFileInfo::exists(Link()); }, 10000);
    }

    ~ModemSim()
    {
        if (m_pid <= 0) {
            return;
        }
        kill(m_pid, SIGTERM);
        int status = 0;
        if (!WaitUntil([&] { return waitpid(m_pid, &status, WNOHANG) != 0; }, 5000)) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
        }
    }
    ModemSim(const ModemSim&) = delete;
    ModemSim& operator=(const ModemSim&) = delete;

    bool Started() const { return m_started; }

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
