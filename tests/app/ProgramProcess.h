#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>

#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "support/TestSupport.h"

// The real program, started the way a user starts it, with the test's profile: headless
// (its event lines on standard output) or windowed (offscreen).
class Program
{
public:
    explicit Program(std::uint16_t port, const QStringList& extra = {},
                     const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                     bool headless = true)
    {
        m_process.setProcessEnvironment(env);
        WriteProfileInt(kProfileListenerPort, port);
        m_process.setProgram(qEnvironmentVariable("ZUNARO_BINARY"));
        m_process.setArguments(headless ? QStringList{u"--headless"_qs} + extra : extra);
        m_process.start();
    }
    ~Program()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    // Waits until a line of standard output ends with ",text".
    bool WaitForLine(const QString& text, int timeoutMs = 10000)
    {
        return WaitUntil(
            [&] {
                m_process.waitForReadyRead(20);
                m_output += QString::fromUtf8(m_process.readAllStandardOutput());
                return m_output.contains(u',' + text + u'\n');
            },
            timeoutMs);
    }
    // Ends the program with SIGTERM; its exit code, or -1 when it crashed or hung.
    int Stop()
    {
        m_process.terminate();
        const bool ended = m_process.waitForFinished(15000);
        return ended && m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    QString Output() const { return m_output; }
    QProcess& Process() { return m_process; }

private:
    QProcess m_process;
    QString m_output;
};

// Writes a settings file and returns its path: the voice switch, the sender mailbox with its
// password, and one recipient "Op" with phone and mail (none when both are empty).
inline QString WriteSettingsFile(const QString& path, int voice = 0, const QString& sender = {},
                                 const QByteArray& password = {}, const QString& phone = {},
                                 const QString& mail = {})
{
    const QString users = phone.isEmpty() && mail.isEmpty()
                              ? u"<UserList/>\r\n"_qs
                              : QStringLiteral("<UserList>\r\n<GetUserResult Name=\"Op\" "
                                               "Phone=\"%1\" Mail=\"%2\"/>\r\n</UserList>\r\n")
                                    .arg(phone, mail);
    WriteBytes(path, QStringLiteral("\xFEFF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                                    "<SMS ComPort=\"0\" Voice=\"%1\" E-Mail=\"%2\" "
                                    "Password=\"%3\">\r\n%4</SMS>\r\n")
                         .arg(voice)
                         .arg(sender, QString::fromLatin1(password.toBase64()), users)
                         .toUtf8());
    return path;
}

inline void UseMailServer(std::uint16_t port)
{
    WriteProfileString(kProfileMailServer, "127.0.0.1");
    WriteProfileInt(kProfileMailPort, port);
}

inline QString OutboxJournal()
{
    return qEnvironmentVariable("ZUNARO_HOME") + u"/outbox.journal"_qs;
}

// The lines of the one run log in the data folder, joined by '\n'; empty when there is none.
inline QString RunLogText()
{
    const QDir folder(qEnvironmentVariable("ZUNARO_HOME"));
    const QStringList logs = folder.entryList({u"*.log"_qs});
    return logs.size() == 1 ? ReadTextLines(folder.filePath(logs[0])).join(u'\n') : QString();
}
