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
                for (const QString& line : m_output.split(u'\n')) {
                    if (line.endsWith(u',' + text)) {
                        return true;
                    }
                }
                return false;
            },
            timeoutMs);
    }
    QString Output() const { return m_output; }
    QProcess& Process() { return m_process; }

private:
    QProcess m_process;
    QString m_output;
};

// Writes a settings file: the voice switch, the sender mailbox with its password, and one
// recipient "Op" with phone and mail (none when both are empty).
inline void WriteSettingsFile(const QString& path, int voice = 0, const QString& sender = {},
                              const QByteArray& password = {}, const QString& phone = {},
                              const QString& mail = {})
{
    QString users = u"<UserList/>\r\n"_qs;
    if (!phone.isEmpty() || !mail.isEmpty()) {
        users = QStringLiteral("<UserList>\r\n<GetUserResult Name=\"Op\" Phone=\"%1\" "
                               "Mail=\"%2\"/>\r\n</UserList>\r\n")
                    .arg(phone, mail);
    }
    WriteBytes(path, QStringLiteral("\xFEFF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                                    "<SMS ComPort=\"0\" Voice=\"%1\" E-Mail=\"%2\" "
                                    "Password=\"%3\">\r\n%4</SMS>\r\n")
                         .arg(voice)
                         .arg(sender, QString::fromLatin1(password.toBase64()), users)
                         .toUtf8());
}

// The text of the one run log in the data folder (UTF-16 with a byte order mark), or empty.
inline QString RunLogText()
{
    const QString folder = qEnvironmentVariable("ZUNARO_HOME");
    const QStringList logs = QDir(folder).entryList({u"*.log"_qs});
    if (logs.size() != 1) {
        return QString();
    }
    const QByteArray bytes = ReadBytes(folder + u'/' + logs[0]);
    if (!bytes.startsWith("\xFF\xFE")) {
        return QString();
    }
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData() + 2),
                              (bytes.size() - 2) / 2);
}
