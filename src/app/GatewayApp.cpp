#include "app/GatewayApp.h"

#include "eventlog/EventRecord.h"
#include "eventlog/EventSink.h"
#include "platform/Folders.h"
#include "platform/Logging.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/Socket.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"

namespace {

CGatewayApp* g_app = nullptr;

} // namespace

CGatewayApp::CGatewayApp()
    : m_outbox(std::make_unique<COutbox>(
          DataFolder(), [](const QString& text) { EventSink(EventType::Error, text); })),
      m_modem(ModemTiming{}, [this](std::uint64_t id) { Finished(id); }),
      m_mailSender(QStringLiteral("alarm@localhost")), m_printBuffer(new char[kPrintBufferSize]())
{
    m_mailQueue.SetFinished([this](std::uint64_t id) { Finished(id); });
    m_users.SetChannels(this);
    m_users.Clear();
    m_mailQueue.SetAccount(m_mailSender, m_mailPassword);
    g_app = this;
}

CGatewayApp::~CGatewayApp()
{
    Shutdown();
    m_users.SetChannels(nullptr);
    if (g_app == this) {
        g_app = nullptr;
    }
}

CGatewayApp* CGatewayApp::Instance()
{
    return g_app;
}

void CGatewayApp::StartCapture(const ListenerTiming& timing)
{
    if (m_printServer) {
        return;
    }
    WSAStartup();
    m_socketsStarted = true;

    const QString addressText = GetProfileString(kProfileListenerAddress);
    std::uint32_t address = 0;
    if (!ParseIpv4(addressText, &address)) {
        qCDebug(lcApp) << "not an IPv4 address in Listener/Address:" << addressText;
        EventSink(EventType::Error, LoadString(kIdsFailedToInitialize));
        return;
    }
    const int port = GetProfileInt(kProfileListenerPort);
    if (port <= 0 || port > 65535) {
        qCDebug(lcApp) << "port out of range in Listener/Port:" << port;
        EventSink(EventType::Error, LoadString(kIdsFailedToInitialize));
        return;
    }
    m_printServer = std::make_unique<CRawPrintServer>(
        static_cast<IPrintDataOwner*>(this), &OnPrintData, static_cast<std::uint16_t>(port),
        m_printBuffer.get(), kPrintBufferSize, address, timing);
}

void CGatewayApp::ResendOutbox()
{
    if (m_outboxOpen) {
        return;
    }
    QString error;
    if (!m_outbox->Open(&error)) {
        EventSink(EventType::Error, error);
        return;
    }
    m_outboxOpen = true;
    const std::vector<OutboxMessage> left = m_outbox->Pending();
    if (left.empty()) {
        return;
    }
    EventSink(EventType::Information,
              FormatText(LoadString(kIdsOutboxResending), {QString::number(left.size())}));
    // A recipient deleted since is still served: the alarm happened. Every one is queued:
    // the outbox bounds them, and the queues' bounds count only new requests.
    for (const OutboxMessage& m : left) {
        if (m.channel == OutboxChannel::Sms) {
            m_modem.QueueSms(m.recipient, m.text, m.id, true);
        } else {
            m_mailQueue.QueueMail(m.recipient, m.text, m.id, true);
        }
    }
}

std::uint64_t CGatewayApp::Store(OutboxChannel channel, const QString& recipient,
                                 const QString& text)
{
    if (!m_outboxOpen) {
        return 0;
    }
    std::uint64_t id = 0;
    QString error;
    if (!m_outbox->Append(channel, recipient, text, &id, &error)) {
        EventSink(EventType::Error, error); // it still goes out, from memory only
        return 0;
    }
    return id;
}

void CGatewayApp::Finished(std::uint64_t id)
{
    if (id == 0) {
        return; // never stored (no outbox, or the store refused it)
    }
    QString error;
    if (!m_outbox->Remove(id, &error) && !error.isEmpty()) {
        EventSink(EventType::Error, error);
    }
}

void CGatewayApp::StartWorkers()
{
    m_mailQueue.StartWorker();
    m_voiceQueue.StartWorker();
}

void CGatewayApp::ExitInstance()
{
    m_mailQueue.StopWorker();
    m_voiceQueue.StopWorker();
    m_modem.Clear(); // reports the SMS it could not send
    if (m_socketsStarted) {
        WSACleanup();
        m_socketsStarted = false;
    }
}

void CGatewayApp::StopCapture()
{
    if (m_printServer) {
        m_printServer->Stop();
        m_printServer.reset();
    }
}

void CGatewayApp::Shutdown()
{
    StopCapture();
    ExitInstance();
}

void CGatewayApp::DispatchAlarm(const QString& text)
{
    m_users.Dispatch(text);
}

void CGatewayApp::SetComPort(int comPort)
{
    m_comPort = comPort;
    m_modem.Replace(comPort);
}

void CGatewayApp::SetMailAccount(const QString& sender, const QString& password)
{
    m_mailSender = sender;
    m_mailPassword = password;
    m_mailQueue.SetAccount(m_mailSender, m_mailPassword);
}

void CGatewayApp::QueueTestMail(const QString& address, const QString& text, MailDone done)
{
    m_mailQueue.QueueMail(address, text, 0, false, std::move(done));
}

void CGatewayApp::SetSettingsMailSender(const QString& sender)
{
    SetMailAccount(sender, m_mailPassword);
}

void CGatewayApp::SetSettingsMailPassword(const QString& password)
{
    SetMailAccount(m_mailSender, password);
}

void CGatewayApp::OnSettingsPortLoaded(int /*comPort*/, const QString& portName)
{
    m_modem.Replace(portName);
}

void CGatewayApp::QueueSms(const QString& telephone, const QString& text)
{
    if (m_modem.HasModem()) { // without a modem nothing is sent, and nothing is stored
        m_modem.QueueSms(telephone, text, Store(OutboxChannel::Sms, telephone, text));
    }
}

void CGatewayApp::QueueMail(const QString& address, const QString& text)
{
    m_mailQueue.QueueMail(address, text, Store(OutboxChannel::Mail, address, text));
}

void CGatewayApp::QueueSpeech(const QString& text)
{
    m_voiceQueue.QueueSpeech(text);
}
