#pragma once

#include <functional>

#include <QDialog>

class CDigitEdit;
class CModemSlot;
class QComboBox;
class QLabel;
class QLineEdit;

// What the modem dialog needs of the program around it; the main frame fills it in.
struct ModemDialogHooks
{
    int comPort = 0; // the port the settings hold, zero-based (0 is COM1)
    // Stores the port chosen with OK in the settings; the driver is left to the dialog.
    std::function<void(int comPort)> storeComPort;
    // Marks the settings document modified.
    std::function<void()> markModified;
    // Shows the recipient list modally over parent.
    std::function<void(QWidget* parent)> openUserList;
};

// "GPRS Modem": the serial port of the modem, each name shown with the device it stands for
// now, and a test message (Phone, Text, Send). Send puts a new driver on the chosen port and
// queues the test message without waiting for the modem; the outcome shows in the event list.
// OK keeps the test number and text in the profile, stores the port and marks the settings
// modified; a driver a test send put in place stays, whether the dialog ends with OK or Cancel.
class CDlgModem : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kPortCount = 9;       // COM1 to COM9
    static constexpr int kMinPhoneLength = 11; // digits of the shortest mobile number

    CDlgModem(CModemSlot& modem, ModemDialogHooks hooks, QWidget* parent = nullptr);

    // The chosen zero-based port index.
    int PortIndex() const;
    // The combo box text of a port: its name with the device behind it, or "(none)".
    static QString PortItemText(int index);

    // The test send: a number shorter than 11 digits or an empty text is an error event (and
    // the dialog's status line) and touches no driver. Otherwise a new driver replaces the
    // running one on the chosen port and the message is queued at it; returns at once.
    // Returns whether the message was queued.
    bool SendTest();

    void accept() override;

private:
    void ShowStatus(const QString& text);

    CModemSlot& m_modem;
    const ModemDialogHooks m_hooks;
    int m_sentPort = -1; // the port of the last test send's driver (-1: none yet)
    QComboBox* m_port = nullptr;
    CDigitEdit* m_phone = nullptr;
    QLineEdit* m_text = nullptr;
    QLabel* m_status = nullptr;
};
