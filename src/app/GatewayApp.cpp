#include "app/GatewayApp.h"

#include "eventlog/EventRecord.h"
#include "eventlog/EventSink.h"
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
    : m_mailSender(QStringLiteral("alarm@localhost")), m_printBuffer(new char[kPrintBufferSize]())
{
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
    m_modem.QueueSms(telephone, text);
}

void CGatewayApp::QueueMail(const QString& address, const QString& text)
{
    m_mailQueue.QueueMail(address, text);
}

void CGatewayApp::QueueSpeech(const QString& text)
{
    m_voiceQueue.QueueSpeech(text);
}
