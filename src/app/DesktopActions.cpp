#include "app/DesktopActions.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include "eventlog/EventSink.h"
#include "platform/Autostart.h"
#include "platform/DialogParts.h"
#include "platform/PrinterSetup.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"

CDesktopActions::CDesktopActions(QObject* parent) : QObject(parent) {}

void CDesktopActions::SetupPrinterDriver(QWidget* owner)
{
    if (m_installer && m_installer->IsRunning()) {
        return; // one setup at a time
    }
    const QPointer<QWidget> box(owner);
    const auto report = [this, box](QMessageBox::Icon icon, const QString& text) {
        auto* message =
            new QMessageBox(icon, LoadString(kIdsFrameTitle), text, QMessageBox::Ok, box.data());
        LabelMessageBoxButtons(*message);
        message->setAttribute(Qt::WA_DeleteOnClose);
        message->open();
        emit printerSetupFinished(text);
    };
    const auto withReason = [](unsigned id, const QString& reason) {
        return reason.isEmpty() ? LoadString(id) : LoadString(id) + u"\n\n"_qs + reason;
    };
    if (!m_installer) {
        m_installer = new CPrinterInstaller(this);
    }
    disconnect(m_installer, &CPrinterInstaller::finished, this, nullptr);
    connect(m_installer, &CPrinterInstaller::finished, this,
            [this, report, withReason](PrinterSetupOutcome outcome, const QString& reason) {
                switch (outcome) {
                case PrinterSetupOutcome::Installed:
                    // Success is an event line; only the refusals and failures are boxes.
                    EventSink(EventType::Information, LoadString(kIdsPrinterInstalled));
                    emit printerSetupFinished(LoadString(kIdsPrinterInstalled));
                    return;
                case PrinterSetupOutcome::AlreadyExists:
                    report(QMessageBox::Information, LoadString(kIdsPrinterExists));
                    return;
                case PrinterSetupOutcome::NotStartable:
                    report(QMessageBox::Warning, withReason(kIdsPrinterNotStartable, reason));
                    return;
                case PrinterSetupOutcome::Failed:
                    report(QMessageBox::Warning, withReason(kIdsPrinterFailed, reason));
                    return;
                }
            });
    // The queue list is read and lpadmin runs off this thread; the window stays responsive.
    m_installer->StartUnlessPresent(
        static_cast<std::uint16_t>(GetProfileInt(kProfileListenerPort)));
}

bool CDesktopActions::AutoRunEnabled()
{
    return AutostartEnabled();
}

bool CDesktopActions::EnableAutoRun(QString* error)
{
    return EnableAutostart(QCoreApplication::applicationFilePath(), error);
}

bool CDesktopActions::DisableAutoRun(QString* error)
{
    return DisableAutostart(error);
}
