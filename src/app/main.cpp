#include <cstdio>
#include <cstring>

#include <QString>

#include "app/Headless.h"
#include "app/Windowed.h"

int main(int argc, char* argv[])
{
    bool headless = false;
    const char* settingsFile = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0) {
            headless = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("usage: zunaro [--headless] [file.znr]\n");
            return 0;
        } else if (argv[i][0] == '-') {
            std::fprintf(stderr, "zunaro: unknown option %s\n", argv[i]);
            return 2;
        } else {
            settingsFile = argv[i];
        }
    }
    const QString file = settingsFile ? QString::fromLocal8Bit(settingsFile) : QString();
    return headless ? RunHeadless(argc, argv, file) : RunWindowed(argc, argv, file);
}
