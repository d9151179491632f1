#pragma once

#include <cstdint>

#include <QObject>
#include <QString>

class CPrinterInstaller;
class QWidget;

// The printer queue and logon-start commands of the Alarm menu, on the platform layer's
// printer setup (CUPS, lpadmin) and XDG autostart file.
class CDesktopActions : public QObject
{
    Q_OBJECT

public:
    explicit CDesktopActions(QObject* parent = nullptr);

    // Setup Printer Driver...: reports an existing queue, else installs it; both without
    // blocking the window. Success is an event line; an existing queue or a failure (with
    // lpadmin's reason) shows in a message box owned by owner.
    void SetupPrinterDriver(QWidget* owner);
    // Whether the logon-start file exists.
    static bool AutoRunEnabled();
    // Enable / Disable AutoRun. Return false with error set when the file could not be
    // written or removed.
    static bool EnableAutoRun(QString* error);
    static bool DisableAutoRun(QString* error);

signals:
    // The printer setup ended (the message box is shown); message is its text.
    void printerSetupFinished(const QString& message);

private:
    CPrinterInstaller* m_installer = nullptr; // made at the first setup
};
