#include <cstdio>
#include <cstring>

#include <QCoreApplication>

#include "app/Headless.h"

int main(int argc, char* argv[])
{
    bool headless = false;
    const char* settingsFile = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0) {
            headless = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("usage: zunaro --headless [file.znr]\n");
            return 0;
        } else if (argv[i][0] == '-') {
            std::fprintf(stderr, "zunaro: unknown option %s\n", argv[i]);
            return 2;
        } else {
            settingsFile = argv[i];
        }
    }
    if (!headless) {
        std::fprintf(stderr, "zunaro: the windowed program is not part of this build; "
                             "run zunaro --headless\n");
        return 2;
    }

    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Zunaro"));
    QCoreApplication::setApplicationName(QStringLiteral("Zunaro"));
    CHeadless program;
    const QString file = settingsFile ? QString::fromLocal8Bit(settingsFile) : QString();
    if (!program.Start(file)) {
        std::fprintf(stderr, "zunaro: cannot catch SIGTERM and SIGINT\n");
    }
    return QCoreApplication::exec();
}
