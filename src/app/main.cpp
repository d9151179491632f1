#include <cstdio>
#include <cstring>

#include <QCoreApplication>

#include "app/Headless.h"

int main(int argc, char* argv[])
{
    bool headless = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0) {
            headless = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("usage: zunaro --headless\n");
            return 0;
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
    if (!program.Start()) {
        std::fprintf(stderr, "zunaro: cannot catch SIGTERM and SIGINT\n");
    }
    return QCoreApplication::exec();
}
