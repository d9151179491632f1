#include "app/Windowed.h"

#include <QApplication>
#include <QMessageBox>

#include "app/AppIcons.h"
#include "app/GatewayApp.h"
#include "app/LangResource.h"
#include "app/MainFrame.h"
#include "platform/Folders.h"
#include "platform/Signals.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"
#include "settings/SettingsDoc.h"

namespace {

} // namespace

CWindowed::CWindowed(QObject* parent)
    : QObject(parent), m_app(std::make_unique<CGatewayApp>()),
      m_doc(std::make_unique<CDoc>(*m_app)),
      m_frame(std::make_unique<CMainFrame>(*m_doc, DataFolder()))
{
    connect(m_frame.get(), &CMainFrame::quitRequested, this, &CWindowed::Finish,
            Qt::QueuedConnection);
    // The end of the desktop session keeps the placement, as a confirmed Exit does.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] {
        if (m_frame) {
            m_frame->SavePlacement();
        }
    });
}

CWindowed::~CWindowed()
{
    Finish();
}

bool CWindowed::Start(const QString& settingsFile, const ListenerTiming& timing)
{
    m_signals = new TerminationSignals(this);
    connect(m_signals, &TerminationSignals::terminationRequested, this, [this] {
        if (m_frame) {
            m_frame->QuitNow();
        }
    });
    const SettingsLoadReport report = InitInstance(*m_app, *m_doc, settingsFile, timing);
    m_frame->FirstActivation(report);
    return m_signals->IsValid();
}

void CWindowed::Finish()
{
    if (m_finished) {
        return;
    }
    m_finished = true;
    m_app->Shutdown(); // every outcome is posted by now
    m_frame.reset();   // the event view writes the run log
    m_doc.reset();
    delete m_signals;
    m_signals = nullptr;
    emit finished();
}

int RunWindowed(int& argc, char** argv, const QString& settingsFile)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Zunaro"));
    QCoreApplication::setApplicationName(QStringLiteral("Zunaro"));
    QApplication::setQuitOnLastWindowClosed(false); // hidden in the tray is still running
    QApplication::setWindowIcon(AppIcon("zunaro", QStyle::SP_ComputerIcon));
    CInstanceLock lock;
    QString error;
    if (!lock.TryLock(&error)) {
        QMessageBox::warning(nullptr, LoadString(kIdsFrameTitle), error);
        return 1;
    }
    SelectStartupLanguage();
    CWindowed program;
    QObject::connect(&program, &CWindowed::finished, &app, [] { QCoreApplication::exit(0); });
    program.Start(settingsFile);
    return QApplication::exec();
}
