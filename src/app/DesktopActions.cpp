#include "app/DesktopActions.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/StringTable.h"

#if __has_include("platform/PrinterSetup.h") && __has_include("platform/Autostart.h")
#define ZUNARO_DESKTOP_LAYER 1
#include "platform/Autostart.h"
#include "platform/PrinterSetup.h"
#else
#define ZUNARO_DESKTOP_LAYER 0
#endif

namespace {

[[maybe_unused]] constexpr unsigned kIdsPrinterExists = 61229;
[[maybe_unused]] constexpr unsigned kIdsPrinterNotStartable = 61230;
[[maybe_unused]] constexpr unsigned kIdsPrinterFailed = 61232;
[[maybe_unused]] constexpr unsigned kIdsPrinterInstalled = 61233;
[[maybe_unused]] constexpr unsigned kIdsAppTitle = 57344;

} // namespace

CDesktopActions::CDesktopActions(QObject* parent) : QObject(parent) {}

bool CDesktopActions::Available()
{
    return ZUNARO_DESKTOP_LAYER != 0;
}

#if ZUNARO_DESKTOP_LAYER

void CDesktopActions::SetupPrinterDriver(QWidget* owner)
{
    if (m_installer && m_installer->IsRunning()) {
        return; // one setup at a time
    }
    const QPointer<QWidget> box(owner);
    const auto report = [this, box](QMessageBox::Icon icon, const QString& text) {
        auto* message =
            new QMessageBox(icon, LoadString(kIdsAppTitle), text, QMessageBox::Ok, box.data());
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
            [report, withReason](PrinterSetupOutcome outcome, const QString& reason) {
                switch (outcome) {
                case PrinterSetupOutcome::Installed:
                    report(QMessageBox::Information, LoadString(kIdsPrinterInstalled));
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

#else

// Without the desktop layer the main window keeps these entries disabled.
void CDesktopActions::SetupPrinterDriver(QWidget* /*owner*/) {}

bool CDesktopActions::AutoRunEnabled()
{
    return false;
}

bool CDesktopActions::EnableAutoRun(QString* error)
{
    if (error) {
        *error = QStringLiteral("logon start is not part of this build");
    }
    return false;
}

bool CDesktopActions::DisableAutoRun(QString* error)
{
    return EnableAutoRun(error);
}

#endif
