#pragma once

// The modem simulator (tests/tools/modem_sim.py) on a real pty pair, at a link named COM1.

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include "platform/Profile.h"
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

    // Points COM1 at the link (before any driver reads the profile).
    static void Prepare() { WriteProfileString("Ports", "COM1", Link()); }

    // Starts a simulator at the link; the transcript starts empty. The simulator ends when
    // its standard input, a pipe from here, closes.
    explicit ModemSim(const SimOptions& o = {})
    {
        QFile::remove(TestHome() + "/transcript.bin");
        QFile::remove(Link());
        const QString tools = qEnvironmentVariable( // the fallback: run by hand, not by ctest
            "ZUNARO_TEST_TOOLS", QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/../tools");
        QStringList args{tools + "/modem_sim.py",        "--link", Link(), "--transcript",
                         TestHome() + "/transcript.bin", "--smsc", o.smsc};
        for (const QString& r : o.rules) {
            args << "--rule" << r;
        }
        for (const auto& [index, pdu] : o.inbox) {
            args << "--inbox" << QString::number(index) + ":" + pdu;
        }
        m_pipe = popen(("exec /usr/bin/python3 '" + args.join("' '") + "'").toLocal8Bit(), "w");
        m_started = m_pipe && WaitUntil([] { return QFileInfo::exists(Link()); }, 10000);
        EXPECT_TRUE(m_started) << "the modem simulator did not start";
    }
    ~ModemSim()
    {
        if (m_pipe) {
            pclose(m_pipe);
        }
    }

    bool Started() const { return m_started; }
    // Every byte the simulator received so far.
    static QByteArray Transcript()
    {
        QFile f(TestHome() + "/transcript.bin");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    FILE* m_pipe = nullptr;
    bool m_started = false;
};
