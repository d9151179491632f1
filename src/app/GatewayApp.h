#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include <QString>

#include "capture/PrintData.h"
#include "capture/RawPrintServer.h"
#include "mail/MailQueue.h"
#include "recipients/AlarmChannels.h"
#include "recipients/UserList.h"
#include "settings/SettingsTarget.h"
#include "sms/GsmModem.h"
#include "voice/VoiceQueue.h"

// The one application object: owns the long-lived components (print buffer, listener,
// recipient list, and the channels as they arrive) and the settings fields, and runs
// start-up and shut-down in their order. The windowed and the headless program both
// drive it.
class CGatewayApp : public IPrintDataOwner, public IAlarmChannels, public ISettingsTarget
{
public:
    static constexpr std::uint32_t kPrintBufferSize = 8200;
    static constexpr std::uint16_t kDefaultPort = 9100;

    CGatewayApp();
    ~CGatewayApp() override;
    CGatewayApp(const CGatewayApp&) = delete;
    CGatewayApp& operator=(const CGatewayApp&) = delete;

    // The process-wide application object, or null outside its lifetime.
    static CGatewayApp* Instance();

    // Starts the socket library and the print listener on the profile's
    // "Listener"/"Address" and "Listener"/"Port" (every interface, port 9100 by default).
    // An address that is not IPv4 text is reported as an error event and nothing listens.
    // timing lets tests shorten the listener's pauses.
    void StartCapture(const ListenerTiming& timing = {});
    // Starts the channel workers (mail, then speech), after the listener.
    void StartWorkers();
    // Stops the channel workers and shuts the socket library down.
    void ExitInstance();
    // Stops and deletes the listener (blocks for the listener's stop grace). Safe to call
    // when none runs.
    void StopCapture();

    CRawPrintServer* PrintServer() const { return m_printServer.get(); }

    // IPrintDataOwner
    const char* PrintBuffer() const override { return m_printBuffer.get(); }
    void DispatchAlarm(const QString& text) override;

    // IAlarmChannels: each request goes to its channel (SMS only while a modem is set).
    void QueueSms(const QString& telephone, const QString& text) override;
    void QueueMail(const QString& address, const QString& text) override;
    void QueueSpeech(const QString& text) override;
    bool VoiceEnabled() const override { return m_voiceEnabled.load() != 0; }

    // Speak every alarm once (the settings file's voice switch).
    void SetVoiceEnabled(bool on) { m_voiceEnabled = on ? 1 : 0; }

    // ISettingsTarget: the settings document copies its file into these fields.
    CUserList& SettingsUsers() override { return Users; }
    int SettingsComPort() const override { return ComPort; }
    void SetSettingsComPort(int comPort) override { ComPort = comPort; }
    int SettingsVoice() const override { return m_voiceEnabled.load(); }
    void SetSettingsVoice(int voice) override { m_voiceEnabled = voice; }
    QString SettingsMailSender() const override { return MailSender; }
    void SetSettingsMailSender(const QString& sender) override;
    QString SettingsMailPassword() const override { return MailPassword; }
    void SetSettingsMailPassword(const QString& password) override;
    void OnSettingsPortLoaded(int comPort, const QString& portName) override;

    CUserList Users;
    CModemSlot Modem; // the modem driver, replaced safely while a fan-out may use it
    CMailQueue MailQueue;
    CVoiceQueue VoiceQueue;
    int ComPort = 0;
    QString MailSender;
    QString MailPassword;

private:
    std::atomic<int> m_voiceEnabled{0}; // read by the fan-out without a lock
    std::unique_ptr<char[]> m_printBuffer;
    std::unique_ptr<CRawPrintServer> m_printServer;
    bool m_socketsStarted = false;
};
