#include "app/Headless.h"

#include <QCoreApplication>

#include "app/GatewayApp.h"
#include "app/LangResource.h"
#include "app/Startup.h"
#include "eventlog/EventRecord.h"
#include "eventlog/EventSink.h"
#include "platform/Folders.h"
#include "platform/Signals.h"
#include "settings/SettingsDoc.h"

namespace {

constexpr int kEventTickMs = 100;

} // namespace

CHeadless::CHeadless(FILE* out, QObject* parent)
    : QObject(parent), m_out(out), m_app(std::make_unique<CGatewayApp>())
{
    RegisterEventStore(&m_store);
    m_model.LoadSettings();
    m_timer.setInterval(kEventTickMs);
    connect(&m_timer, &QTimer::timeout, this, &CHeadless::PrintPending);
}

CHeadless::~CHeadless()
{
    m_doc.reset();
    m_app.reset();
    UnregisterEventStore(&m_store);
}

bool CHeadless::Start(const QString& settingsFile, const ListenerTiming& timing)
{
    m_doc = std::make_unique<CDoc>(*m_app);
    m_signals = new TerminationSignals(this);
    connect(m_signals, &TerminationSignals::terminationRequested, this, &CHeadless::Shutdown);
    m_timer.start();
    const SettingsLoadReport report = InitInstance(*m_app, *m_doc, settingsFile, timing);
    if (report.any) {
        EventSink(report.type, report.text);
    }
    return m_signals->IsValid();
}

int RunHeadless(int& argc, char** argv, const QString& settingsFile)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Zunaro"));
    QCoreApplication::setApplicationName(QStringLiteral("Zunaro"));
    CInstanceLock lock;
    QString error;
    if (!lock.TryLock(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    SelectStartupLanguage();
    CHeadless program;
    if (!program.Start(settingsFile)) {
        std::fprintf(stderr, "zunaro: cannot catch SIGTERM and SIGINT\n");
    }
    return QCoreApplication::exec();
}

void CHeadless::Shutdown()
{
    if (m_shutDown) {
        return;
    }
    m_shutDown = true;
    m_app->Shutdown(); // every outcome is posted by now
    m_timer.stop();
    PrintPending();
    m_model.WriteRunLog(DataFolder());
    m_model.SaveSettings();
    QCoreApplication::exit(0);
}

void CHeadless::PrintPending()
{
    // Every record of the tick is printed, also those the 1,024 shown lines push out again.
    std::vector<EventRecord> records;
    std::size_t dropped = 0;
    m_model.TimerStep(&records, &dropped);
    if (dropped > 0) {
        std::fprintf(stderr, "zunaro: %zu events were dropped before they could be shown\n",
                     dropped);
    }
    for (const EventRecord& r : records) {
        const QByteArray line = CEventListModel::LineText(r).toUtf8();
        std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), m_out);
        std::fputc('\n', m_out);
    }
    if (!records.empty()) {
        std::fflush(m_out);
    }
}
