#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include <QString>

#include "capture/PrintData.h"
#include "capture/RawPrintServer.h"
#include "mail/MailQueue.h"
#include "platform/Outbox.h"
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
    // Opens the outbox in the data folder (an error event when it cannot: the channels then
    // work from memory only) and hands every request left in it from an earlier run to its
    // channel, oldest first, after one information event with their number. Called after
    // the settings file is loaded and before the listener starts.
    void ResendOutbox();
    // The outbox (open once ResendOutbox found it usable).
    const COutbox& Outbox() const { return *m_outbox; }
    // Starts the channel workers (mail, then speech), after the listener.
    void StartWorkers();
    // Stops the channel workers and shuts the socket library down. Mails, texts and SMS that
    // could not be sent by then are reported as failed, one event each (or one summary line
    // for the modem), before it returns.
    void ExitInstance();
    // Stops and deletes the listener (returns once its threads have ended). Safe to call
    // when none runs.
    void StopCapture();
    // The whole orderly end: the producer first (the listener stops accepting and reading),
    // then the channel workers, then the modem driver. Every alarm that arrived before it is
    // either handed to its channel or reported; nothing is queued to a stopped worker.
    void Shutdown();

    CRawPrintServer* PrintServer() const { return m_printServer.get(); }

    // IPrintDataOwner
    const char* PrintBuffer() const override { return m_printBuffer.get(); }
    void DispatchAlarm(const QString& text) override;

    // IAlarmChannels: each request goes to its channel (SMS only while a modem is set),
    // stored in the outbox first and removed from it once confirmed or finally failed.
    void QueueSms(const QString& telephone, const QString& text) override;
    void QueueMail(const QString& address, const QString& text) override;
    void QueueSpeech(const QString& text) override;
    bool VoiceEnabled() const override { return m_voiceEnabled.load() != 0; }

    // Operations of the settings dialogs; all of them on the user-interface thread.
    // The recipient list; its edits take the list's lock themselves.
    CUserList& Users() { return m_users; }
    // Speak every alarm once (the settings file's voice switch).
    void SetVoiceEnabled(bool on) { m_voiceEnabled = on ? 1 : 0; }
    // Zero-based serial port index of the modem (0 is COM1).
    int ComPort() const { return m_comPort; }
    // Stores the port and puts a new modem driver on it, replacing the current one. Returns
    // at once: the driver sets the modem up on its own thread; SMS waiting at the old driver
    // move to the new one.
    void SetComPort(int comPort);
    // The sender mailbox and its password; every later alarm mail logs in with them.
    QString MailSender() const { return m_mailSender; }
    QString MailPassword() const { return m_mailPassword; }
    void SetMailAccount(const QString& sender, const QString& password);
    // Queues the E-Mail dialog's test mail at the mail worker (not kept in the outbox);
    // done is told its outcome, on the thread that learns it.
    void QueueTestMail(const QString& address, const QString& text, MailDone done);
    // The speech queue (the Voice dialog's test text goes through QueueSpeech) and the modem
    // slot (the modem dialog's test message).
    CModemSlot& Modem() { return m_modem; }

    // ISettingsTarget: the settings document copies its file into these fields.
    CUserList& SettingsUsers() override { return m_users; }
    int SettingsComPort() const override { return m_comPort; }
    void SetSettingsComPort(int comPort) override { m_comPort = comPort; }
    int SettingsVoice() const override { return m_voiceEnabled.load(); }
    void SetSettingsVoice(int voice) override { m_voiceEnabled = voice; }
    QString SettingsMailSender() const override { return m_mailSender; }
    void SetSettingsMailSender(const QString& sender) override;
    QString SettingsMailPassword() const override { return m_mailPassword; }
    void SetSettingsMailPassword(const QString& password) override;
    void OnSettingsPortLoaded(int comPort, const QString& portName) override;

private:
    // Stores a request in the outbox and returns its number (0 when it is not stored, with
    // an error event unless the outbox is closed).
    std::uint64_t Store(OutboxChannel channel, const QString& recipient, const QString& text);
    // Removes a confirmed or finally failed request; any thread.
    void Finished(std::uint64_t id);

    // Declared before the channels: they report to it until they are destroyed.
    std::unique_ptr<COutbox> m_outbox;
    std::atomic<bool> m_outboxOpen{false};
    CUserList m_users;
    CModemSlot m_modem; // the modem driver, replaced safely while a fan-out may use it
    CMailQueue m_mailQueue;
    CVoiceQueue m_voiceQueue;
    int m_comPort = 0;
    QString m_mailSender;
    QString m_mailPassword;
    std::atomic<int> m_voiceEnabled{0}; // read by the fan-out without a lock
    std::unique_ptr<char[]> m_printBuffer;
    std::unique_ptr<CRawPrintServer> m_printServer;
    bool m_socketsStarted = false;
};
