#include "platform/PrinterSetup.h"

#include <memory>

#include <unistd.h>

#include <cups/cups.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include "platform/Logging.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"

namespace {

// Bounds what a misbehaving lpadmin can make us keep of its error output.
constexpr qint64 kMaxReasonBytes = 4096;

// The first group of a SystemGroup line in the file, or an empty string.
QString SystemGroupIn(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return {};
    }
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine(4096)).trimmed();
        const QStringList words =
            line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        if (words.size() >= 2 &&
            words[0].compare(QLatin1String("SystemGroup"), Qt::CaseInsensitive) == 0) {
            return words[1];
        }
    }
    return {};
}

// lpadmin's words for a request the scheduler refused for want of rights.
bool IsPermissionRefusal(const QString& text)
{
    static const QRegularExpression refusal(
        QStringLiteral("unauthori[sz]ed|forbidden|not authori[sz]ed|not allowed|permission denied"),
        QRegularExpression::CaseInsensitiveOption);
    return refusal.match(text).hasMatch();
}

// lpadmin's error output without its notices about deprecated drivers, which say nothing
// about why the run failed.
QString ReasonFrom(const QByteArray& stderrBytes)
{
    const QString text = QString::fromLocal8Bit(stderrBytes.left(kMaxReasonBytes));
    QStringList kept;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (!line.contains(QLatin1String("deprecated"), Qt::CaseInsensitive)) {
            kept << line.trimmed();
        }
    }
    return kept.isEmpty() ? text.trimmed() : kept.join(QLatin1Char('\n'));
}

} // namespace

bool FindPrinterQueue(const QString& name, const QString& description, QString* error)
{
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    bool found = false;
    for (int i = 0; i < count && !found; ++i) {
        const QString destName = QString::fromUtf8(dests[i].name);
        const char* info = cupsGetOption("printer-info", dests[i].num_options, dests[i].options);
        // An empty name or description matches nothing, not every queue without one.
        found = (!name.isEmpty() && destName.compare(name, Qt::CaseInsensitive) == 0) ||
                (!description.isEmpty() && info != nullptr &&
                 QString::fromUtf8(info).compare(description, Qt::CaseInsensitive) == 0);
    }
    cupsFreeDests(count, dests);
    // An empty list is no error by itself: a scheduler without queues says "not found".
    const ipp_status_t status = cupsLastError();
    if (count == 0 && status > IPP_STATUS_OK_EVENTS_COMPLETE &&
        status != IPP_STATUS_ERROR_NOT_FOUND) {
        if (error != nullptr) {
            *error = QString::fromUtf8(cupsLastErrorString());
        }
        qCDebug(lcApp) << "listing print queues failed:" << cupsLastErrorString();
    }
    return found;
}

QString PrinterAdminGroup()
{
    QString root = qEnvironmentVariable("CUPS_SERVERROOT");
    if (root.isEmpty()) {
        root = QStringLiteral("/etc/cups");
    }
    for (const char* file : {"/cups-files.conf", "/cupsd.conf"}) {
        const QString group = SystemGroupIn(root + QLatin1String(file));
        if (!group.isEmpty()) {
            return group;
        }
    }
    return QStringLiteral("lpadmin");
}

CPrinterInstaller::CPrinterInstaller(QObject* parent) : QObject(parent) {}

CPrinterInstaller::~CPrinterInstaller()
{
    if (m_check != nullptr) {
        m_check->wait();
        delete m_check;
    }
    if (m_process != nullptr) {
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished(1000);
    }
}

QStringList CPrinterInstaller::LpadminArguments(std::uint16_t port)
{
    // Without snmp=false every job waits for an SNMP reply that never comes; without the
    // encoding non-ASCII jobs are dropped by the text filter; without zero margins every line
    // gains leading spaces.
    return {QStringLiteral("-p"),
            QString::fromLatin1(kPrinterQueueName),
            QStringLiteral("-D"),
            QString::fromLatin1(kPrinterDescription),
            QStringLiteral("-E"),
            QStringLiteral("-v"),
            QStringLiteral("socket://127.0.0.1:%1/?snmp=false").arg(port),
            QStringLiteral("-m"),
            QStringLiteral("drv:///cupsfilters.drv/textonly.ppd"),
            QStringLiteral("-o"),
            QStringLiteral("printer-is-shared=false"),
            QStringLiteral("-o"),
            QStringLiteral("page-left=0"),
            QStringLiteral("-o"),
            QStringLiteral("page-right=0"),
            QStringLiteral("-o"),
            QStringLiteral("page-top=0"),
            QStringLiteral("-o"),
            QStringLiteral("page-bottom=0"),
            QStringLiteral("-o"),
            QStringLiteral("PrinterEncoding=Custom.UTF-8")};
}

QString CPrinterInstaller::ResolveProgram(const QString& program)
{
    if (program.contains(QLatin1Char('/'))) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable() ? info.absoluteFilePath() : QString();
    }
    QString found = QStandardPaths::findExecutable(program);
    if (found.isEmpty()) {
        found = QStandardPaths::findExecutable(program, {QStringLiteral("/usr/local/sbin"),
                                                         QStringLiteral("/usr/sbin"),
                                                         QStringLiteral("/sbin")});
    }
    return found;
}

bool CPrinterInstaller::IsRunning() const
{
    return m_process != nullptr || m_check != nullptr || m_reportPending;
}

void CPrinterInstaller::StartUnlessPresent(std::uint16_t port)
{
    if (IsRunning()) {
        return;
    }
    // Listing the queues may wait for the scheduler or for a network browse: not on the
    // caller's thread.
    auto present = std::make_shared<bool>(false);
    m_check = QThread::create([present] {
        *present = FindPrinterQueue(QString::fromLatin1(kPrinterQueueName),
                                    QString::fromLatin1(kPrinterDescription), nullptr);
    });
    connect(m_check, &QThread::finished, this, [this, present, port] {
        m_check->deleteLater();
        m_check = nullptr;
        if (*present) {
            Report(PrinterSetupOutcome::AlreadyExists, {});
        } else {
            Start(port);
        }
    });
    m_check->start();
}

void CPrinterInstaller::Start(std::uint16_t port)
{
    if (IsRunning()) {
        return;
    }
    const QString program = ResolveProgram(m_program);
    if (program.isEmpty()) {
        // Reported from the event loop, as every other outcome is.
        const QString reason = FormatText(LoadString(kIdsProgramNotFound), {m_program});
        m_reportPending = true;
        QTimer::singleShot(0, this,
                           [this, reason] { Report(PrinterSetupOutcome::NotStartable, reason); });
        return;
    }
    m_timedOut = false;
    m_process = new QProcess(this);
    m_process->setProgram(program);
    m_process->setArguments(LpadminArguments(port));
    m_process->setStandardInputFile(QProcess::nullDevice());
    // A session of its own has no terminal, so lpadmin cannot sit waiting for a password
    // nobody sees: it fails with "Unauthorized" instead.
    m_process->setChildProcessModifier([] { ::setsid(); });
    connect(m_process, &QProcess::finished, this, &CPrinterInstaller::OnProcessFinished);
    connect(m_process, &QProcess::errorOccurred, this, &CPrinterInstaller::OnProcessError);
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_timedOut = true;
        m_process->kill();
    });
    qCDebug(lcApp) << "running" << program << m_process->arguments();
    m_process->start();
    m_timer->start(m_timeoutMs);
}

void CPrinterInstaller::OnProcessError(QProcess::ProcessError error)
{
    // Crashes and kills arrive through finished(); only a failed start ends here.
    if (error == QProcess::FailedToStart) {
        Report(PrinterSetupOutcome::NotStartable, m_process->errorString());
    }
}

void CPrinterInstaller::OnProcessFinished(int exitCode, QProcess::ExitStatus status)
{
    if (status == QProcess::NormalExit && exitCode == 0 && !m_timedOut) {
        Report(PrinterSetupOutcome::Installed, {});
        return;
    }
    QString reason = ReasonFrom(m_process->readAllStandardError());
    QString why;
    if (m_timedOut) {
        why = FormatText(LoadString(kIdsLpadminTimedOut), {QString::number(m_timeoutMs / 1000)});
    } else if (status == QProcess::CrashExit) {
        why = LoadString(kIdsLpadminCrashed);
    } else if (reason.isEmpty()) {
        why = FormatText(LoadString(kIdsLpadminExitStatus), {QString::number(exitCode)});
    }
    if (!why.isEmpty()) {
        reason = reason.isEmpty() ? why : reason + QLatin1Char('\n') + why;
    }
    if (IsPermissionRefusal(reason)) {
        const QString group = PrinterAdminGroup();
        reason +=
            QLatin1Char('\n') + FormatText(LoadString(kIdsPrinterAdminGroupHint), {group, group});
    }
    Report(PrinterSetupOutcome::Failed, reason);
}

void CPrinterInstaller::Report(PrinterSetupOutcome outcome, const QString& reason)
{
    if (m_process != nullptr) {
        m_process->disconnect(this);
        m_process->deleteLater();
        m_process = nullptr;
    }
    if (m_timer != nullptr) {
        m_timer->stop();
        m_timer->deleteLater();
        m_timer = nullptr;
    }
    m_reportPending = false;
    qCDebug(lcApp) << "printer setup outcome" << static_cast<int>(outcome) << reason;
    emit finished(outcome, reason);
}
