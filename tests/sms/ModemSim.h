#pragma once

// The modem simulator (tests/tools/modem_sim.py) as a test fixture: a real pty pair whose
// slave side is published at a link that the profile names as COM1.

#include <csignal>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include "platform/Profile.h"
#include "sms/GsmModem.h"
#include "support/TestSupport.h"

struct SimOptions
{
    SimOptions(const QStringList& r = {}) : rules(r) {}
    QStringList rules; // COMMAND=ACTION[*COUNT]
    QString smsc = QStringLiteral("+8613800000500");
    std::vector<std::pair<int, QString>> inbox; // storage index, PDU
};

class ModemSim
{
public:
    static QString Link() { return TestHome() + QStringLiteral("/ttyModem"); }

    // Points COM1 at a new simulator's link; the transcript starts empty.
    explicit ModemSim(const SimOptions& o = {})
    {
        WriteProfileString("Ports", "COM1", Link());
        QFile::remove(TestHome() + "/transcript.bin");
        QFile::remove(Link());
        QString tools = qEnvironmentVariable("ZUNARO_TEST_TOOLS");
        if (tools.isEmpty()) { // run by hand rather than by ctest
            tools = QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/../tools";
        }
        QStringList args{"/usr/bin/python3", tools + "/modem_sim.py",        "--link", Link(),
                         "--transcript",     TestHome() + "/transcript.bin", "--smsc", o.smsc};
        for (const QString& r : o.rules) {
            args << "--rule" << r;
        }
        for (const auto& [index, pdu] : o.inbox) {
            args << "--inbox" << QString::number(index) + ":" + pdu;
        }
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
        EXPECT_TRUE(posix_spawn(&m_pid, ptrs[0], nullptr, nullptr, ptrs.data(), environ) == 0 &&
                    WaitUntil([] { return QFileInfo::exists(Link()); }, 10000))
            << "the modem simulator did not start";
    }
    ~ModemSim()
    {
        int status = 0;
        if (m_pid > 0 && kill(m_pid, SIGTERM) == 0 &&
            !WaitUntil([&] { return waitpid(m_pid, &status, WNOHANG) != 0; })) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
        }
    }
    ModemSim(const ModemSim&) = delete;
    ModemSim& operator=(const ModemSim&) = delete;

    // Every byte the simulator received so far.
    static QByteArray Transcript()
    {
        QFile f(TestHome() + "/transcript.bin");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    pid_t m_pid = -1;
};
