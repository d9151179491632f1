#pragma once

// The modem simulator (tests/tools/modem_sim.py) on a real pty pair, at a link named COM1.

#include <gtest/gtest.h>

#include <cstdio>
#include <utility>
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

// An independent reading of every SMS-SUBMIT PDU in the transcript: the concatenation header
// as hex (empty without one) and the UCS2 text.
inline std::vector<std::pair<QByteArray, QString>> SentParts(const QByteArray& transcript)
{
    std::vector<std::pair<QByteArray, QString>> parts;
    for (qsizetype at = 0; (at = transcript.indexOf("AT+CMGS=", at)) >= 0;) {
        const qsizetype start = transcript.indexOf('\r', at) + 1;
        if ((at = transcript.indexOf('\x1a', start)) < 0) {
            break; // a PDU still on its way
        }
        const QByteArray pdu = QByteArray::fromHex(transcript.mid(start, at - start));
        const auto o = [&pdu](int i) { return uchar(pdu.at(i)); };
        int i = 1 + o(0);                // past the SMSC
        const bool header = o(i) & 0x40; // first octet
        i += 4 + (o(i + 2) + 1) / 2 + 3; // reference, destination, PID, DCS, validity
        const int end = i + 1 + o(i);    // the user data length
        const int text = header ? i + 2 + o(i + 1) : i + 1;
        parts.emplace_back(pdu.mid(i + 1, text - i - 1).toHex().toUpper(), QString());
        for (i = text; i + 1 < end; i += 2) {
            parts.back().second += QChar(char16_t(o(i) << 8 | o(i + 1)));
        }
    }
    return parts;
}
