#include "eventlog/TextFile.h"

#include "platform/CodePage.h"

bool CTextFile::Open(const QString& path, std::uint32_t flags, QString* error)
{
    m_unicode = false;
    m_failed = false;
    const bool writing = (flags & (modeWrite | modeReadWrite)) != 0;
    if ((flags & typeText) && !(flags & modeCreate) && !writing) {
        QFile probe(path);
        if (probe.open(QIODevice::ReadOnly)) {
            const QByteArray head = probe.read(2);
            if (head.size() == 2 && static_cast<unsigned char>(head[0]) == 0xFF &&
                static_cast<unsigned char>(head[1]) == 0xFE) {
                m_unicode = true;
                flags = (flags & ~static_cast<std::uint32_t>(typeText)) | typeBinary;
            }
        }
    }
    m_flags = flags;
    QIODevice::OpenMode mode;
    if ((flags & modeReadWrite) || ((flags & modeCreate) && !(flags & modeWrite))) {
        mode = QIODevice::ReadWrite; // a file created for reading can be written as well
    } else if (flags & modeWrite) {
        mode = QIODevice::WriteOnly;
    } else {
        mode = QIODevice::ReadOnly;
    }
    if (flags & modeCreate) {
        // Create replaces an existing file unless asked to keep its content.
        if (!(flags & modeNoTruncate)) {
            mode |= QIODevice::Truncate;
        }
    } else if (writing && !QFile::exists(path)) {
        if (error) {
            *error = QStringLiteral("%1: no such file").arg(path);
        }
        return false;
    }
    if (m_file.isOpen()) {
        m_file.close();
    }
    m_file.setFileName(path);
    if (!m_file.open(mode)) {
        if (error) {
            *error = m_file.errorString();
        }
        return false;
    }
    return true;
}

QByteArray CTextFile::Codeset() const
{
    return m_codePage == -1 ? CodesetName(CodePage::Ansi)
                            : NormalizeCodesetName(QString::number(m_codePage));
}

bool CTextFile::WriteString(const QString& text)
{
    if (!m_file.isOpen() || m_failed) {
        return false;
    }
    QByteArray bytes;
    if (m_flags & UnicodeText) {
        if (m_file.pos() == 0) {
            bytes.append("\xFF\xFE", 2);
        }
        bytes.reserve(bytes.size() + text.size() * 2);
        for (const QChar c : text) {
            bytes.append(static_cast<char>(c.unicode() & 0xFF));
            bytes.append(static_cast<char>(c.unicode() >> 8));
        }
    } else {
        bytes = WideToCodeset(text, Codeset(), '#');
        if (bytes.isNull()) {
            m_failed = true;
            return false;
        }
    }
    if (m_file.write(bytes) != bytes.size()) {
        m_failed = true;
        return false;
    }
    return true;
}

bool CTextFile::ReadString(QString& line)
{
    line.clear();
    if (!m_file.isOpen()) {
        return false;
    }
    if (m_unicode) {
        if (m_file.pos() == 0) {
            m_file.skip(2);
        }
        char unit[2];
        bool any = false;
        while (line.size() < kMaxLine && m_file.read(unit, 2) == 2) {
            any = true;
            const char16_t c = static_cast<char16_t>(static_cast<unsigned char>(unit[0]) |
                                                     (static_cast<unsigned char>(unit[1]) << 8));
            line.append(QChar(c));
            if (c == u'\n') {
                break;
            }
        }
        if (!any) {
            return false;
        }
    } else {
        const QByteArray bytes = m_file.readLine(kMaxLine + 1);
        if (bytes.isEmpty()) {
            return false;
        }
        line = CodesetToWide(bytes, Codeset()).left(kMaxLine);
    }
    if (line.endsWith(QLatin1String("\r\n"))) {
        line.chop(2);
    } else if (line.endsWith(u'\r') || line.endsWith(u'\n')) {
        line.chop(1);
    }
    return true;
}

bool CTextFile::Close()
{
    if (!m_file.isOpen()) {
        return !m_failed;
    }
    const bool flushed = m_file.flush();
    m_file.close();
    const bool ok = flushed && !m_failed;
    m_failed = false;
    return ok;
}
