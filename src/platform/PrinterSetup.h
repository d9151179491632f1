#pragma once

#include <cstdint>

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

class QThread;
class QTimer;

// The print queue through which other programs hand their alarm text to the listener. CUPS
// queue names cannot hold spaces or '/', so the queue carries the name in its description.
inline constexpr char kPrinterQueueName[] = "Generic_Text_Only";
inline constexpr char kPrinterDescription[] = "Generic / Text Only";

// Returns true when the print system knows a queue whose name equals name, or whose
// description ("printer-info") equals description, ignoring case. The queues come from the
// default server (CUPS_SERVER, else the local scheduler); an empty name or description
// matches nothing. Returns false when none matches;
// when the queues could not be listed it also sets *error (when given) to the reason.
bool FindPrinterQueue(const QString& name, const QString& description, QString* error);

// The group whose members may add printers: the first SystemGroup of the scheduler's
// cups-files.conf (then cupsd.conf) in $CUPS_SERVERROOT or /etc/cups; "lpadmin" when
// neither names one.
QString PrinterAdminGroup();

enum class PrinterSetupOutcome
{
    Installed,     // lpadmin created (or updated) the queue
    AlreadyExists, // StartUnlessPresent found the queue and started nothing
    Failed,        // lpadmin ran and refused, or did not finish in time
    NotStartable,  // lpadmin is missing or could not be started
};

// Creates the alarm print queue with one lpadmin run, off the caller's thread: the caller's
// event loop goes on while lpadmin works, and finished() reports the real outcome.
class CPrinterInstaller : public QObject
{
    Q_OBJECT

public:
    explicit CPrinterInstaller(QObject* parent = nullptr);
    // Waits for a running check; a running lpadmin is killed.
    ~CPrinterInstaller() override;

    // Runs lpadmin for the queue that sends raw data to 127.0.0.1:port. Ignored while a
    // run is in progress (IsRunning). Reports through finished(), never synchronously.
    void Start(std::uint16_t port = 9100);
    // Looks for the queue first (off the caller's thread); reports AlreadyExists when it is
    // there, otherwise runs Start(port). A queue list that cannot be read does not stop the
    // setup: lpadmin then reports the real reason.
    void StartUnlessPresent(std::uint16_t port = 9100);
    // Returns whether a check or an lpadmin run is in progress.
    bool IsRunning() const;

    // The lpadmin program to run: a path, or a name searched in PATH and the sbin folders.
    void SetLpadminProgram(const QString& program) { m_program = program; }
    // Milliseconds after which a hanging lpadmin is killed and the setup reported failed.
    void SetTimeoutMs(int ms) { m_timeoutMs = ms; }

    // The arguments of the one lpadmin line that creates the queue for 127.0.0.1:port.
    static QStringList LpadminArguments(std::uint16_t port);
    // Returns the full path of program: as given when it holds a '/', else found in PATH or
    // in /usr/local/sbin, /usr/sbin, /sbin (not in a normal user's PATH on Debian). Returns an
    // empty string when it is nowhere.
    static QString ResolveProgram(const QString& program);

signals:
    // The outcome of one Start or StartUnlessPresent; reason is lpadmin's own message for
    // Failed (with the group that grants the right when it was refused), the start error
    // for NotStartable, and empty otherwise.
    void finished(PrinterSetupOutcome outcome, QString reason);

private:
    void OnProcessFinished(int exitCode, QProcess::ExitStatus status);
    void OnProcessError(QProcess::ProcessError error);
    void Report(PrinterSetupOutcome outcome, const QString& reason);

    QString m_program = QStringLiteral("lpadmin");
    int m_timeoutMs = 120000;
    QProcess* m_process = nullptr;
    QTimer* m_timer = nullptr;
    QThread* m_check = nullptr;
    bool m_timedOut = false;
    bool m_reportPending = false;
};
