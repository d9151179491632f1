// Makes the main window picture of the README: the windowed program offscreen, in a
// temporary home, with a morning's worth of events, saved as PNG.
//   zunaro_screenshot docs/MainWindow.png

#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>

#include "app/GatewayApp.h"
#include "app/LangResource.h"
#include "app/MainFrame.h"
#include "app/Windowed.h"
#include "eventlog/EventSink.h"
#include "eventlog/EventView.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: zunaro_screenshot out.png\n");
        return 2;
    }
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/zunaro-shot-XXXXXX"));
    for (const char* name :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "ZUNARO_HOME"}) {
        setenv(name, home.path().toLocal8Bit().constData(), 1);
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Zunaro"));
    QCoreApplication::setApplicationName(QStringLiteral("Zunaro"));
    // A port of its own, out of the way of a running Zunaro.
    WriteProfileInt(kProfileListenerPort,
                    39100 + static_cast<int>(QCoreApplication::applicationPid() % 500));
    WriteProfileInt("Main Window", "cx", 790);
    WriteProfileInt("Main Window", "cy", 420);
    WriteProfileInt("Event View", "2", 545);
    WriteProfileString("Ports", "COM1", "/nonexistent/zunaro-modem");

    SelectStartupLanguage(); // LANG=de_DE.UTF-8 makes the German picture
    CWindowed program;
    program.Start();
    const char* const lines[][2] = {
        {"0", "Load '/home/operator/.local/share/Zunaro/plant.znr' successfully!"},
        {"0", "Succeed to initialize voice engine."},
        {"0", "Boiler 2 pressure high (8.6 bar)"},
        {"0", "Send 'Boiler 2 pressure high (8.6 bar)' to 'shift@plant.example' successfully!"},
        {"0", "\xE7\x9F\xAD\xE4\xBF\xA1\xE7\x8C\xAB\xE5\x90\x91\xE5\x8F\xB7\xE7\xA0\x81"
              "8613800000001\xE5\x8F\x91\xE9\x80\x81\xE6\xB6\x88\xE6\x81\xAF\xEF\xBC\x9A"
              "Boiler 2 pressure high (8.6 bar)\xE6\x88\x90\xE5\x8A\x9F\xEF\xBC\x81"},
        {"0", "Pump P-104 stopped: motor overload"},
        {"1", "Send 'Pump P-104 stopped: motor overload' to 'maint@plant.example' unsuccessfully!"},
        {"0", "Température salle B élevée: 31 °C"},
    };
    for (const auto& line : lines) {
        EventSink(line[0][0] == '0' ? EventType::Information : EventType::Error,
                  QString::fromUtf8(line[1]));
    }
    CMainFrame* frame = program.Frame();
    frame->View()->Flush();
    frame->View()->selectRow(5);
    QApplication::processEvents();
    const bool saved = frame->grab().save(QString::fromLocal8Bit(argv[1]));
    frame->QuitNow();
    QApplication::processEvents();
    return saved ? 0 : 1;
}
