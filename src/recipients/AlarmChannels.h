#pragma once

#include <QString>

// The three channel requests the application hands the recipient list. Each copies its
// arguments, queues and returns at once. Implementations never call back into the list
// (the list lock is taken before any channel's own lock).
class IAlarmChannels
{
public:
    virtual ~IAlarmChannels() = default;
    // Queues an SMS at the modem driver; does nothing while there is no modem driver.
    virtual void QueueSms(const QString& telephone, const QString& text) = 0;
    // Queues an alarm mail.
    virtual void QueueMail(const QString& address, const QString& text) = 0;
    // Queues the text for speech.
    virtual void QueueSpeech(const QString& text) = 0;
    // True when every alarm is also spoken.
    virtual bool VoiceEnabled() const = 0;
};
