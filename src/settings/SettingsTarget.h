#pragma once

#include <QString>

class CUserList;

// What the settings document reads and writes: the application's settings fields and its
// recipient list. The application implements it; the document keeps no data of its own.
class ISettingsTarget
{
public:
    virtual ~ISettingsTarget() = default;

    // The recipient list the file's recipients go to (emptied before every load).
    virtual CUserList& SettingsUsers() = 0;
    // Zero-based serial port index of the modem (0 is COM1).
    virtual int SettingsComPort() const = 0;
    virtual void SetSettingsComPort(int comPort) = 0;
    // Voice switch: non-zero speaks every alarm once.
    virtual int SettingsVoice() const = 0;
    virtual void SetSettingsVoice(int voice) = 0;
    // Sender mailbox address and its password.
    virtual QString SettingsMailSender() const = 0;
    virtual void SetSettingsMailSender(const QString& sender) = 0;
    virtual QString SettingsMailPassword() const = 0;
    virtual void SetSettingsMailPassword(const QString& password) = 0;
    // A file's port was loaded (right after SetSettingsComPort): create the modem driver on
    // portName ("COM3", or "\\.\COM12" from COM10 on) with 9600 baud 8N1 and make it the
    // application's modem, replacing any earlier one.
    virtual void OnSettingsPortLoaded(int comPort, const QString& portName) = 0;
};
