#pragma once

// Peers of the mail tests: the aiosmtpd server of tests/tools/smtp_server.py and a
// scripted server for exact wire checks and broken servers.

#include <atomic>
#include <cstdlib>
#include <functional>
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

    explicit SmtpPeer(const QString& mechanisms = "LOGIN,PLAIN,CRAM-MD5,DIGEST-MD5")
    {
        static int count = 0;
        m_dir = TestHome() + QStringLiteral("/smtp-peer-%1").arg(++count);
        QDir().mkpath(m_dir);
        const QByteArray script = QByteArray(std::getenv("ZUNARO_TEST_TOOLS")) + "/smtp_server.py";
        const QByteArray dir = m_dir.toLocal8Bit(), offered = mechanisms.toLatin1();
        const char* argv[] = {"/usr/bin/python3", script.constData(),  "--dir", dir.constData(),
                              "--mechanisms",     offered.constData(), nullptr};
        int input[2];
        if (pipe2(input, O_CLOEXEC) != 0) {
            return;
        }
        // fork and exec rather than QProcess: its vfork-style start confuses TSan.
        m_pid = fork();
        if (m_pid == 0) {
            dup2(input[0], 0);
            execv(argv[0], const_cast<char* const*>(argv));
            _exit(127);
        }
        close(input[0]);
        m_input = input[1]; // the server ends when its input closes
        QFile ready(m_dir + "/ready.json");
        if (m_pid < 0 || !WaitUntil([&] { return ready.exists(); }, 30000) ||
            !ready.open(QIODevice::ReadOnly)) {
            return;
        }
        const QJsonObject o = QJsonDocument::fromJson(ready.readAll()).object();
        plainPort = static_cast<std::uint16_t>(o.value("plain_port").toInt());
        tlsPort = static_cast<std::uint16_t>(o.value("tls_port").toInt());
        caFile = o.value("ca_file").toString().toLocal8Bit();
    }

    ~SmtpPeer()
    {
        close(m_input);
        int status = 0;
        if (m_pid > 0 &&
            !WaitUntil([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, 5000)) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
        }
    }

    bool ok() const { return plainPort != 0 && tlsPort != 0; }
    // Accepted messages, oldest first (mail_from, rcpt_tos, content, login, mechanism, tls).
    std::vector<QJsonObject> Messages() const
    {
        std::vector<QJsonObject> out;
        for (const QByteArray& data : Files("/messages", "*.json")) {
            out.push_back(QJsonDocument::fromJson(data).object());
        }
        return out;
    }
    // Session transcripts ("C: " and "S: " lines), oldest connection first.
    std::vector<QByteArray> Transcripts() const { return Files("/transcripts", "*.txt"); }
    bool WaitMessages(std::size_t n) const
    {
        return WaitUntil([&] { return Messages().size() >= n; }, 15000);
    }

    std::uint16_t plainPort = 0;
    std::uint16_t tlsPort = 0;
    QByteArray caFile;

private:
    std::vector<QByteArray> Files(const char* sub, const char* pattern) const
    {
        std::vector<QByteArray> out;
        const QDir d(m_dir + sub);
        for (const QString& name : d.entryList({pattern}, QDir::Files, QDir::Name)) {
            out.push_back(ReadBytes(d.filePath(name)));
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
        Send,  // send the pieces, pauseMs apart
        Read,  // wait until the client sent the mark (a line end unless given)
        Close, // close the connection
    };
    Kind kind;
    std::vector<QByteArray> pieces;
    int pauseMs = 0;
};
using Script = std::vector<ScriptStep>;

inline ScriptStep Say(const QByteArray& text, std::vector<QByteArray> more = {}, int pauseMs = 0)
{
    more.insert(more.begin(), text);
    return {ScriptStep::Send, std::move(more), pauseMs};
}
inline ScriptStep Hear(const QByteArray& mark = "\r\n")
{
    return {ScriptStep::Read, {mark}, 0};
}
inline ScriptStep Hangup()
{
    return {ScriptStep::Close, {}, 0};
}

// The greeting, then each client line answered with the next reply.
inline Script Replies(std::initializer_list<QByteArray> replies)
{
    Script s{Say("220 scripted\r\n")};
    for (const QByteArray& r : replies) {
        s.push_back(Hear());
        s.push_back(Say(r));
    }
    return s;
}
inline void Answer(Script& s, const QByteArray& reply)
{
    s.push_back(Hear());
    s.push_back(Say(reply));
}

// A well-behaved server without AUTH, from the greeting to QUIT, for one RCPT TO.
inline Script HappyScript()
{
    Script s = Replies({"250 ok\r\n", "250 sender ok\r\n", "250 rcpt ok\r\n", "354 go\r\n"});
    s.push_back(Hear("\r\n.\r\n"));
    s.push_back(Say("250 queued\r\n"));
    Answer(s, "221 bye\r\n");
    return s;
}

// A server on 127.0.0.1 that plays one script per accepted connection (the last script
// serves every further connection) and keeps what each client sent. After its script it
// reads on, silent, until the client closes.
class ScriptedServer
{
public:
    explicit ScriptedServer(std::vector<Script> scripts) : m_scripts(std::move(scripts))
    {
        m_listener = CreateTcpSocket();
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
            const SOCKET c = poll(&p, 1, 20) > 0 ? Accept(m_listener, nullptr) : INVALID_SOCKET;
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

    // Reads what comes within 20 ms; false when the client closed or the server stops.
    bool ReadSome(SOCKET c, std::size_t index)
    {
        pollfd p{c, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) {
            return !m_stop;
        }
        char buffer[65536];
        const long n = Recv(c, buffer, sizeof buffer);
        std::lock_guard<std::mutex> guard(m_mutex);
        if (n > 0) {
            m_received[index].append(buffer, n);
        }
        return n > 0;
    }

    void Play(SOCKET c, std::size_t index, const Script& script)
    {
        qsizetype consumed = 0;
        for (const ScriptStep& step : script) {
            if (step.kind == ScriptStep::Close) {
                return;
            }
            for (std::size_t i = 0; step.kind == ScriptStep::Send && i < step.pieces.size(); ++i) {
                SleepMs(i > 0 ? step.pauseMs : 0);
                if (!SendAll(c, step.pieces[i])) {
                    return;
                }
            }
            while (step.kind == ScriptStep::Read) {
                {
                    std::lock_guard<std::mutex> guard(m_mutex);
                    const qsizetype at = m_received[index].indexOf(step.pieces[0], consumed);
                    if (at >= 0) {
                        consumed = at + step.pieces[0].size();
                        break;
                    }
                }
                if (!ReadSome(c, index)) {
                    return;
                }
            }
        }
        while (ReadSome(c, index)) {
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

// The alarm-like message of the tests: one To recipient, the given body lines.
inline CSmtpMessage TestMessage(std::initializer_list<QByteArray> body = {"Fire in hall 3"},
                                const QByteArray& to = "rcpt@example.org")
{
    CSmtpMessage m;
    m.SetSenderAddress("from@example.org");
    m.AddRecipient(to);
    m.SetSubject("Alarm Event");
    m.SetMailer("Alarm");
    m.SetPriority(CSmtpMessage::kPriorityHigh);
    for (const QByteArray& line : body) {
        m.AddBodyLine(line);
    }
    return m;
}
