#pragma once

// Peers of the mail tests: the aiosmtpd server of tests/tools/smtp_server.py and a
// scripted server for exact wire checks and broken servers.

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

#include "mail/SmtpSession.h"
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
        const QByteArray script = QByteArray(std::getenv("ZUNARO_TEST_TOOLS")) + "/smtp_server.py";
        const QByteArray dir = m_dir.toLocal8Bit(), offered = mechanisms.toLatin1();
        const char* argv[] = {"/usr/bin/python3", script.constData(),  "--dir", dir.constData(),
                              "--mechanisms",     offered.constData(), nullptr};
        // fork and exec rather than QProcess: its vfork-style start confuses TSan.
        if ((m_pid = fork()) == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM); // ends with the test program whatever happens
            execv(argv[0], const_cast<char* const*>(argv));
            _exit(127);
        }
        const QString ready = m_dir + "/ready.json";
        if (m_pid > 0 && WaitUntil([&] { return QFile::exists(ready); }, 30000)) {
            const QJsonObject o = QJsonDocument::fromJson(ReadBytes(ready)).object();
            plainPort = static_cast<std::uint16_t>(o.value("plain_port").toInt());
            tlsPort = static_cast<std::uint16_t>(o.value("tls_port").toInt());
            caFile = o.value("ca_file").toString().toLocal8Bit();
        }
    }
    ~SmtpPeer()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }

    bool ok() const { return plainPort != 0 && tlsPort != 0; }
    // Accepted messages, oldest first (mail_from, rcpt_tos, content, login, mechanism, tls).
    std::vector<QJsonObject> Messages() const
    {
        std::vector<QJsonObject> out;
        const QDir d(m_dir + "/messages");
        for (const QString& name : d.entryList({"*.json"}, QDir::Files, QDir::Name)) {
            out.push_back(QJsonDocument::fromJson(ReadBytes(d.filePath(name))).object());
        }
        return out;
    }
    // The message n (counted from 0), once it has arrived.
    QJsonObject Message(std::size_t n) const
    {
        WaitUntil([&] { return Messages().size() > n; }, 15000);
        return Messages().size() > n ? Messages()[n] : QJsonObject();
    }

    std::uint16_t plainPort = 0;
    std::uint16_t tlsPort = 0;
    QByteArray caFile;

private:
    QString m_dir;
    pid_t m_pid = -1;
};

// One step of a scripted connection: wait until the client has sent `until` (when not empty),
// then send the pieces of `say` 30 ms apart, or hang up.
struct ScriptStep
{
    QByteArray until;
    std::vector<QByteArray> say;
    bool hangUp;
};
using Script = std::vector<ScriptStep>;

inline ScriptStep Say(const QByteArray& text)
{
    return {{}, {text}, false};
}
// The greeting, then each client line answered with the next reply.
inline Script Replies(std::initializer_list<QByteArray> replies)
{
    Script s{Say("220 scripted\r\n")};
    for (const QByteArray& r : replies) {
        s.push_back({"\r\n", {r}, false});
    }
    return s;
}
// One server per list of offered mechanisms, started once for the whole test program.
inline SmtpPeer& SharedPeer(const QString& mechanisms = "LOGIN,PLAIN,CRAM-MD5,DIGEST-MD5")
{
    static std::map<QString, std::unique_ptr<SmtpPeer>> peers;
    auto& p = peers[mechanisms];
    if (!p) {
        p = std::make_unique<SmtpPeer>(mechanisms);
    }
    return *p;
}

// The event line of a mail's outcome.
inline QString MailOutcome(bool sent, const QString& text, const QString& address)
{
    return QString("Send '%1' to '%2' %3!")
        .arg(text, address, sent ? "successfully" : "unsuccessfully");
}

// A server on 127.0.0.1 that plays one script per accepted connection (the last script
// serves every further connection) and keeps what each client sent. After its script it
// reads on, silent, until the client closes.
class ScriptedServer
{
    struct Connection
    {
        QByteArray received;
        bool finished = false;
    };
    template <typename F> auto Locked(F f)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return f();
    }
    Connection At(std::size_t i)
    {
        return i < m_connections.size() ? m_connections[i] : Connection{};
    }

public:
    explicit ScriptedServer(std::vector<Script> scripts) : m_scripts(std::move(scripts))
    {
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
        return Locked([&] { return At(i).received; });
    }
    std::size_t Connections()
    {
        return Locked([&] { return m_connections.size(); });
    }
    // True once connection i has been closed by either side.
    bool Finished(std::size_t i = 0)
    {
        return Locked([&] { return At(i).finished; });
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
            const std::size_t index = Locked([&] {
                m_connections.emplace_back();
                return m_connections.size() - 1;
            });
            Play(c, m_connections[index].received,
                 m_scripts[std::min(index, m_scripts.size() - 1)]);
            closesocket(c);
            Locked([&] { m_connections[index].finished = true; });
        }
    }

    // Reads what comes within 20 ms; false when the client closed or the server stops.
    bool ReadSome(SOCKET c, QByteArray& received)
    {
        pollfd p{c, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) {
            return !m_stop;
        }
        char buffer[65536];
        const long n = Recv(c, buffer, sizeof buffer);
        Locked([&] { received.append(buffer, n > 0 ? n : 0); });
        return n > 0;
    }

    void Play(SOCKET c, QByteArray& received, const Script& script)
    {
        qsizetype heard = 0;
        for (const ScriptStep& step : script) {
            for (bool wait = !step.until.isEmpty(); wait;) {
                const qsizetype at = Locked([&] { return received.indexOf(step.until, heard); });
                wait = at < 0;
                heard = wait ? heard : at + step.until.size();
                if (wait && !ReadSome(c, received)) {
                    return;
                }
            }
            for (std::size_t i = 0; i < step.say.size(); ++i) {
                SleepMs(i > 0 ? 30 : 0);
                if (!SendAll(c, step.say[i])) {
                    return;
                }
            }
            if (step.hangUp) {
                return;
            }
        }
        while (ReadSome(c, received)) {
        }
    }

    std::vector<Script> m_scripts;
    SOCKET m_listener = CreateTcpSocket();
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex; // guards m_connections
    std::deque<Connection> m_connections;
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
