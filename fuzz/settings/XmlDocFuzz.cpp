// Feeds arbitrary bytes to CXmlDoc: as text (SetText), as a file (LoadFile), and as a
// script of cursor moves and edits, checking after each edit that the patched index
// equals a fresh parse of the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QDir>
#include <QFile>
#include <QString>

#include "settings/XmlDoc.h"

namespace {

const QString& FuzzFile()
{
    static const QString path =
        QDir::temp().filePath(QStringLiteral("zunaro-xmlfuzz-%1.xml").arg(qint64(getpid())));
    return path;
}

void RunScript(CXmlDoc& doc, const std::uint8_t* ops, std::size_t size)
{
    static const QString names[] = {QStringLiteral("a"),        QStringLiteral("SMS"),
                                    QStringLiteral("UserList"), QString(),
                                    QStringLiteral("b c"),      QStringLiteral("x:y")};
    static const QString values[] = {QString(), QStringLiteral("v"), QStringLiteral("<&\"'>]]>"),
                                     QStringLiteral("&amp;")};
    const bool checkIndex = doc.ElementCount() < 2000;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const std::uint8_t op = ops[i];
        const std::uint8_t arg = ops[i + 1];
        const QString& name = names[arg % 6];
        const QString& value = values[(arg >> 3) % 4];
        bool edited = false;
        switch (op % 8) {
        case 0:
            doc.ResetPosition();
            break;
        case 1:
            doc.FindElement(name);
            break;
        case 2:
            doc.EnterElement();
            break;
        case 3:
            doc.LeaveElement();
            break;
        case 4: {
            // Every add-flag but the start-tag-only form, which a parse reads differently.
            static const std::uint32_t flags[] = {0,
                                                  XmlAddCData,
                                                  XmlAddNoLineBreak,
                                                  XmlAddSpaceSlash,
                                                  XmlAddBefore,
                                                  XmlAddAsChild,
                                                  XmlAddAsChild | XmlAddBefore,
                                                  XmlAddCData | XmlAddNoLineBreak};
            edited = doc.AddElement(name.isEmpty() ? QStringLiteral("e") : name, value,
                                    flags[(arg >> 5) % 8]);
            break;
        }
        case 5: {
            // A value set is read back as it was (the attribute read of the element is
            // remembered and must follow the edit).
            const QString key = name.isEmpty() ? QStringLiteral("k") : name;
            (void)doc.GetAttribute(key);
            edited = doc.SetAttribute(key, value);
            if (edited && doc.GetAttribute(key) != value) {
                std::abort();
            }
            break;
        }
        case 6:
            if (arg & 1) {
                edited = doc.AddElement(name.isEmpty() ? QStringLiteral("e") : name,
                                        {{u"k", value}, {u"n", QString::number(arg)}});
            } else {
                edited = doc.SetAttribute(QStringLiteral("n"), int(arg) - 128);
            }
            break;
        case 7:
            (void)doc.GetAttribute(name);
            break;
        }
        if (edited && checkIndex && doc.IsWellFormed() && !doc.VerifyIndex()) {
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    const std::uint8_t mode = data[0];
    ++data;
    --size;
    // The first quarter of the rest is the edit script, the remainder the document.
    const std::size_t scriptSize = size / 4;
    const std::uint8_t* script = data;
    const char* body = reinterpret_cast<const char*>(data + scriptSize);
    const std::size_t bodySize = size - scriptSize;

    CXmlDoc doc(mode & 0x8 ? XmlFlagIgnoreCase : 0);
    if (mode & 1) {
        QFile f(FuzzFile());
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            return 0;
        }
        f.write(body, qint64(bodySize));
        f.close();
        doc.LoadFile(FuzzFile());
    } else {
        doc.SetText(QString::fromUtf8(body, qsizetype(bodySize)));
    }
    const bool wellFormed = doc.IsWellFormed();
    if (wellFormed && doc.ElementCount() < 2000 && !doc.VerifyIndex()) {
        std::abort();
    }
    RunScript(doc, script, scriptSize);
    if (mode & 2) {
        doc.SaveFile(FuzzFile());
    }
    return 0;
}
