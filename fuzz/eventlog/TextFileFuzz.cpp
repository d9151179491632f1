#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QFile>
#include <QTemporaryDir>

#include "eventlog/TextFile.h"

// Any bytes read back as lines, as UTF-16 (with the byte order mark) or in a code page: every
// line is bounded and the reader always reaches the end.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("in.log"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            return 0;
        }
        f.write(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    }
    for (const int codePage : {-1, 936, 1252}) {
        CTextFile in;
        in.SetCodePage(codePage);
        if (!in.Open(path, CTextFile::modeRead | CTextFile::typeText)) {
            return 0;
        }
        QString line;
        std::size_t lines = 0;
        while (in.ReadString(line)) {
            if (line.size() > CTextFile::kMaxLine || ++lines > size + 1) {
                std::abort();
            }
        }
        in.Close();
    }
    return 0;
}
