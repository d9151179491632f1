#pragma once

// Peers of the mail tests: the aiosmtpd server of tests/tools/smtp_server.py and a
// scripted server for exact wire checks and broken servers.

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include "mail/SmtpSession.h"
#include "platform/Socket.h"
#include "platform/Tick.h"
#include "support/TestSupport.h"

// The real SMTP server on 127.0.0.1 (plain with STARTTLS, and TLS from the first byte).
class SmtpPeer
{
public:
    static constexpr const char* kUser = "alarm@zunaro.test";
    static constexpr const char* kPassword = "secret";

    explicit SmtpPeer(const QStringList& extraArgs = {})
    {
        static int count = 0;
        m_dir = TestHome() + QStringLiteral("/smtp-peer-%1").arg(++count);
        QDir().mkpath(m_dir);
        const QString script =
            QString::fromLocal8Bit(std::getenv("ZUNARO_TEST_TOOLS")) + "/smtp_server.py";
        // fork and exec rather than QProcess: its vfork-style start confuses the thread
        // sanitizer of the TSan build.
        std::vector<QByteArray> args{"/usr/bin/python3",
                                     script.toLocal8Bit(),
                                     "--dir",
                                     m_dir.toLocal8Bit(),
                                     "--user",
                                     kUser,
                                     "--password",
                                     kPassword};
        for (const QString& a : extraArgs) {
            args.push_back(a.toLocal8Bit());
        }
        std::vector<char*> argv;
        for (QByteArray& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        int input[2];
        if (pipe2(input, O_CLOEXEC) != 0) {
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            dup2(input[0], 0);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(input[0]);
        m_input = input[1];
        if (m_pid < 0) {
            return;
        }
        QFile ready(m_dir + "/ready.json");
        if (!WaitUntil([&] { return ready.exists(); }, 30000) || !ready.open(QIODevice::ReadOnly)) {
            return;
        }
        const QJsonObject o = QJsonDocument::fromJson(ready.readAll()).object();
        plainPort = static_cast<std::uint16_t>(o.value("plain_port").toInt());
        tlsPort = static_cast<std::uint16_t>(o.value("tls_port").toInt());
        caFile = o.value("ca_file").toString();
    }

    ~SmtpPeer()
    {
        close(m_input); // the server ends when its input closes
        if (m_pid <= 0) {
            return;
        }
        int status = 0;
        if (!WaitUntil([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, 5000)) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
        }
    }

    bool ok() const { return plainPort != 0 && tlsPort != 0; }

    // Accepted messages, oldest first (mail_from, rcpt_tos, content, login, mechanism, tls).
    std::vector<QJsonObject> Messages() const { return ReadAll("/messages", true); }
    // Session transcripts ("C: " and "S: " lines), oldest connection first.
    std::vector<QByteArray> Transcripts() const
    {
        std::vector<QByteArray> out;
        for (const QJsonObject& o : ReadAll("/transcripts", false)) {
            out.push_back(o.value("text").toString().toLatin1());
        }
        return out;
    }
    bool WaitMessages(std::size_t n, int timeoutMs = 15000) const
    {
        return WaitUntil([&] { return Messages().size() >= n; }, timeoutMs);
    }

    std::uint16_t plainPort = 0;
    std::uint16_t tlsPort = 0;
    QString caFile;

private:
    std::vector<QJsonObject> ReadAll(const char* sub, bool json) const
    {
        std::vector<QJsonObject> out;
        QDir d(m_dir + sub);
        for (const QString& name :
             d.entryList({json ? "*.json" : "*.txt"}, QDir::Files, QDir::Name)) {
            QFile f(d.filePath(name));
            if (!f.open(QIODevice::ReadOnly)) {
                continue;
            }
            const QByteArray data = f.readAll();
            if (json) {
                out.push_back(QJsonDocument::fromJson(data).object());
            } else {
                QJsonObject o;
                o.insert("text", QString::fromLatin1(data));
                out.push_back(o);
            }
        }
        return out;
    }

    QString m_dir;
    pid_t m_pid = -1;
    int m_input = -1;
};

// One step of a scripted connection.
struct ScriptStep
{
    enum Kind
    {
        Send,     // send data (in the given pieces, with pauseMs between them)
        ReadLine, // wait for one CR LF terminated line from the client
        ReadData, // wait for the end-of-data mark "\r\n.\r\n", or for the given text
        Pause,    // wait pauseMs, reading nothing
        Close     // close the connection
    };
    Kind kind;
    std::vector<QByteArray> pieces;
    int pauseMs = 0;
};

inline ScriptStep Say(const QByteArray& text)
{
    return {ScriptStep::Send, {text}, 0};
}
inline ScriptStep SayInPieces(std::vector<QByteArray> pieces, int pauseMs)
{
    return {ScriptStep::Send, std::move(pieces), pauseMs};
}
inline ScriptStep Hear()
{
    return {ScriptStep::ReadLine, {}, 0};
}
inline ScriptStep HearData()
{
    return {ScriptStep::ReadData, {}, 0};
}
inline ScriptStep HearUntil(const QByteArray& text)
{
    return {ScriptStep::ReadData, {text}, 0};
}
inline ScriptStep Wait(int ms)
{
    return {ScriptStep::Pause, {}, ms};
}
inline ScriptStep Hangup()
{
    return {ScriptStep::Close, {}, 0};
}

using Script = std::vector<ScriptStep>;

// A client line, then a reply: the usual step.
inline void Answer(Script& s, const QByteArray& reply)
{
    s.push_back(Hear());
    s.push_back(Say(reply));
}

// The replies of a well-behaved server without AUTH, up to QUIT.
inline Script HappyScript(const QByteArray& ehlo = "250 ok\r\n")
{
    Script s{Say("220 scripted ready\r\n")};
    Answer(s, ehlo);
    Answer(s, "250 sender ok\r\n");
    Answer(s, "250 recipient ok\r\n");
    Answer(s, "354 go ahead\r\n");
    s.push_back(HearData());
    s.push_back(Say("250 queued\r\n"));
    Answer(s, "221 bye\r\n");
    return s;
}

// A server on 127.0.0.1 that plays one script per accepted connection (the last script
// serves every further connection) and keeps everything each client sent. After its
// script it keeps reading until the client closes.
class ScriptedServer
{
public:
    explicit ScriptedServer(std::vector<Script> scripts) : m_scripts(std::move(scripts))
    {
        m_listener = CreateTcpSocket();
        SetReuseAddress(m_listener, true);
        Bind(m_listener, SockAddrIn{0x7F000001, 0});
        Listen(m_listener, 8);
        port = LocalAddress(m_listener).port;
        m_thread = std::thread([this] { Run(); });
    }
    explicit ScriptedServer(Script script) : ScriptedServer(std::vector<Script>{std::move(script)})
    {
    }

    ~ScriptedServer()
    {
        m_stop = true;
        m_thread.join();
        closesocket(m_listener);
    }

    // What the client of connection i sent so far.
    QByteArray Received(std::size_t i = 0)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return i < m_received.size() ? m_received[i] : QByteArray();
    }
    std::size_t Connections()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_received.size();
    }
    // True once connection i has been closed by either side.
    bool Finished(std::size_t i = 0)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return i < m_finished.size() && m_finished[i];
    }

    std::uint16_t port = 0;

private:
    void Run()
    {
        while (!m_stop) {
            pollfd p{m_listener, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) {
                continue;
            }
            const SOCKET c = Accept(m_listener, nullptr);
            if (c == INVALID_SOCKET) {
                continue;
            }
            SetNonBlocking(c, false);
            std::size_t index;
            {
                std::lock_guard<std::mutex> guard(m_mutex);
                index = m_received.size();
                m_received.emplace_back();
                m_finished.push_back(false);
            }
            Play(c, index, m_scripts[std::min(index, m_scripts.size() - 1)]);
            closesocket(c);
            std::lock_guard<std::mutex> guard(m_mutex);
            m_finished[index] = true;
        }
    }

    // Reads what is there within ms; false when the client closed or the server stops.
    bool ReadSome(SOCKET c, std::size_t index, int ms)
    {
        pollfd p{c, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0) {
            return !m_stop;
        }
        char buffer[65536];
        const long n = Recv(c, buffer, sizeof buffer);
        if (n <= 0) {
            return false;
        }
        std::lock_guard<std::mutex> guard(m_mutex);
        m_received[index].append(buffer, n);
        return true;
    }

    qsizetype ReceivedSize(std::size_t index)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_received[index].size();
    }

    bool WaitFor(SOCKET c, std::size_t index, const QByteArray& mark, qsizetype from)
    {
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(m_mutex);
                if (m_received[index].indexOf(mark, from) >= 0) {
                    return true;
                }
            }
            if (m_stop || !ReadSome(c, index, 20)) {
                return false;
            }
        }
    }

    void Play(SOCKET c, std::size_t index, const Script& script)
    {
        qsizetype consumed = 0;
        for (const ScriptStep& step : script) {
            switch (step.kind) {
            case ScriptStep::Send:
                for (std::size_t i = 0; i < step.pieces.size(); ++i) {
                    if (i > 0 && step.pauseMs > 0) {
                        SleepMs(step.pauseMs);
                    }
                    if (!SendAll(c, step.pieces[i])) {
                        return;
                    }
                }
                break;
            case ScriptStep::ReadLine:
            case ScriptStep::ReadData: {
                const QByteArray mark = step.kind == ScriptStep::ReadLine ? QByteArray("\r\n")
                                        : step.pieces.empty()             ? QByteArray("\r\n.\r\n")
                                                                          : step.pieces[0];
                if (!WaitFor(c, index, mark, consumed)) {
                    return;
                }
                std::lock_guard<std::mutex> guard(m_mutex);
                consumed = m_received[index].indexOf(mark, consumed) + mark.size();
                break;
            }
            case ScriptStep::Pause: {
                const std::uint64_t end =
                    GetTickCount64() + static_cast<std::uint64_t>(step.pauseMs);
                while (!m_stop && GetTickCount64() < end) {
                    SleepMs(5);
                }
                break;
            }
            case ScriptStep::Close:
                return;
            }
        }
        while (ReadSome(c, index, 20)) {
        }
    }

    std::vector<Script> m_scripts;
    SOCKET m_listener = INVALID_SOCKET;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<QByteArray> m_received;
    std::vector<bool> m_finished;
};

// Time-outs short enough for tests: every wait 1.5 s unless a test shrinks it further.
inline SmtpCommandTable FastTable(int ms = 1500)
{
    return SmtpCommandTable::Default().WithTimeouts(ms);
}

// Runs fn and returns the ECSmtp code it raised, or 0.
inline int ErrorOf(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const ECSmtp& e) {
        return e.Code();
    }
    return 0;
}

// The lines of a transcript or wire text (split at CR LF).
inline QList<QByteArray> Lines(const QByteArray& text)
{
    QList<QByteArray> lines = text.split('\n');
    for (QByteArray& l : lines) {
        if (l.endsWith('\r')) {
            l.chop(1);
        }
    }
    return lines;
}
