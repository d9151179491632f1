#include "app/GatewayApp.h"

#include "eventlog/EventRecord.h"
#include "eventlog/EventSink.h"
#include "platform/Logging.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/Socket.h"
#include "platform/StringTable.h"

namespace {

constexpr unsigned kIdsFailedToInitialize = 61234;

CGatewayApp* g_app = nullptr;

} // namespace

CGatewayApp::CGatewayApp()
    : MailSender(QStringLiteral("alarm@localhost")), MailPassword(QString()),
      m_printBuffer(new char[kPrintBufferSize]())
{
    Users.SetChannels(this);
    Users.Clear();
    MailQueue.SetAccount(MailSender, MailPassword);
    g_app = this;
}

CGatewayApp::~CGatewayApp()
{
    StopCapture();
    Modem.Clear(); // no fan-out can reach it any more
    if (m_socketsStarted) {
        WSACleanup();
    }
    Users.SetChannels(nullptr);
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
        EventSink(EventError, LoadString(kIdsFailedToInitialize));
        return;
    }
    const int port = GetProfileInt(kProfileListenerPort);
    if (port <= 0 || port > 65535) {
        qCDebug(lcApp) << "port out of range in Listener/Port:" << port;
        EventSink(EventError, LoadString(kIdsFailedToInitialize));
        return;
    }
    m_printServer = std::make_unique<CRawPrintServer>(
        static_cast<IPrintDataOwner*>(this), &OnPrintData, static_cast<std::uint16_t>(port),
        m_printBuffer.get(), kPrintBufferSize, address, timing);
}

void CGatewayApp::StartWorkers()
{
    MailQueue.StartWorker();
    VoiceQueue.StartWorker();
}

void CGatewayApp::ExitInstance()
{
    MailQueue.StopWorker();
    VoiceQueue.StopWorker();
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

void CGatewayApp::DispatchAlarm(const QString& text)
{
    Users.Dispatch(text);
}

void CGatewayApp::SetSettingsMailSender(const QString& sender)
{
    MailSender = sender;
    MailQueue.SetAccount(MailSender, MailPassword);
}

void CGatewayApp::SetSettingsMailPassword(const QString& password)
{
    MailPassword = password;
    MailQueue.SetAccount(MailSender, MailPassword);
}

void CGatewayApp::OnSettingsPortLoaded(int /*comPort*/, const QString& portName)
{
    Modem.Replace(portName);
}

void CGatewayApp::QueueSms(const QString& telephone, const QString& text)
{
    Modem.QueueSms(telephone, text);
}

void CGatewayApp::QueueMail(const QString& address, const QString& text)
{
    MailQueue.QueueMail(address, text);
}

void CGatewayApp::QueueSpeech(const QString& text)
{
    VoiceQueue.QueueSpeech(text);
}
