#include "app/Headless.h"

#include <QCoreApplication>

#include "app/GatewayApp.h"
#include "eventlog/EventSink.h"
#include "platform/Folders.h"
#include "platform/Signals.h"

namespace {

constexpr int kEventTickMs = 100;

} // namespace

CHeadless::CHeadless(FILE* out, QObject* parent)
    : QObject(parent), m_out(out), m_app(std::make_unique<CGatewayApp>())
{
    RegisterEventStore(&m_store);
    m_timer.setInterval(kEventTickMs);
    connect(&m_timer, &QTimer::timeout, this, &CHeadless::PrintPending);
}

CHeadless::~CHeadless()
{
    m_app.reset();
    UnregisterEventStore(&m_store);
}

bool CHeadless::Start(const ListenerTiming& timing)
{
    DataFolder(); // created at start
    m_signals = new TerminationSignals(this);
    connect(m_signals, &TerminationSignals::terminationRequested, this, &CHeadless::Shutdown);
    m_timer.start();
    m_app->StartCapture(timing);
    return m_signals->IsValid();
}

void CHeadless::Shutdown()
{
    if (m_shutDown) {
        return;
    }
    m_shutDown = true;
    m_app->ExitInstance();
    m_app->StopCapture();
    m_timer.stop();
    PrintPending();
    QCoreApplication::exit(0);
}

QString CHeadless::FormatLine(const EventRecord& record)
{
    const SystemTime& t = record.time.local;
    return QString::asprintf("%04d-%02d-%02d,%02d:%02d:%02d,", t.wYear, t.wMonth, t.wDay, t.wHour,
                             t.wMinute, t.wSecond) +
           record.text;
}

void CHeadless::PrintPending()
{
    std::size_t dropped = 0;
    const std::vector<EventRecord> records = m_store.TakePending(&dropped);
    if (dropped > 0) {
        std::fprintf(stderr, "zunaro: %zu events were dropped before they could be shown\n",
                     dropped);
    }
    for (const EventRecord& r : records) {
        const QByteArray line = FormatLine(r).toUtf8();
        std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), m_out);
        std::fputc('\n', m_out);
    }
    if (!records.empty()) {
        std::fflush(m_out);
    }
}
