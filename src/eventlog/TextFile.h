#pragma once

#include <cstdint>

#include <QFile>
#include <QString>

// A text file that writes either UTF-16 (little endian, with the byte order mark) or 8-bit
// text in a code page, and reads both: a file opened for reading in text mode that starts
// with FF FE is read as UTF-16.
class CTextFile
{
public:
    // Open flags (bit values as stored; callers combine them).
    enum OpenFlag : std::uint32_t
    {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000,
        UnicodeText = 0x20000, // write UTF-16 with the byte order mark
    };
    // The flags both log writers use.
    static constexpr std::uint32_t kLogFlags = modeWrite | modeCreate | typeText | UnicodeText;
    // Longest line ReadString returns at once; the rest of a longer line comes next.
    static constexpr int kMaxLine = 4096;

    CTextFile() = default;
    CTextFile(const CTextFile&) = delete;
    CTextFile& operator=(const CTextFile&) = delete;

    // Opens path. Returns false, with the reason in error when given, when it cannot.
    bool Open(const QString& path, std::uint32_t flags, QString* error = nullptr);
    // Writes text: UTF-16 code units (the byte order mark first at position 0) with
    // UnicodeText, else the text in the code page with '#' for characters it cannot hold.
    // Returns false on a write error; the file should then be closed.
    bool WriteString(const QString& text);
    // Reads the next line without its CR LF, CR or LF. Returns false at the end of the file.
    bool ReadString(QString& line);
    // Flushes and closes. Returns false when buffered text could not be written.
    bool Close();

    bool IsUnicode() const { return m_unicode; }
    std::uint32_t Flags() const { return m_flags; }
    // Code page of 8-bit text as a Windows number (936, 65001); -1 is the ANSI code page.
    void SetCodePage(int codePage) { m_codePage = codePage; }
    int CodePageNumber() const { return m_codePage; }

private:
    QByteArray Codeset() const;

    QFile m_file;
    bool m_unicode = false;
    std::uint32_t m_flags = 0;
    int m_codePage = -1;
    bool m_failed = false;
};
