#include "capture/AlarmText.h"

#include <QChar>

namespace {

// Length of a valid UTF-8 sequence starting at p (at most left bytes), 0 when the bytes
// there are not a valid sequence, and -1 when a valid prefix is cut by the end.
int Utf8SequenceAt(const unsigned char* p, std::size_t left)
{
    const unsigned char b = p[0];
    int len;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b < 0x80) {
        return 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        if (b == 0xE0) {
            lo = 0xA0; // no overlong forms
        } else if (b == 0xED) {
            hi = 0x9F; // no surrogates
        }
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        if (b == 0xF0) {
            lo = 0x90;
        } else if (b == 0xF4) {
            hi = 0x8F; // nothing above U+10FFFF
        }
    } else {
        return 0;
    }
    for (int i = 1; i < len; ++i) {
        if (static_cast<std::size_t>(i) >= left) {
            return -1;
        }
        const unsigned char c = p[i];
        const unsigned char min = i == 1 ? lo : 0x80;
        const unsigned char max = i == 1 ? hi : 0xBF;
        if (c < min || c > max) {
            return 0;
        }
    }
    return len;
}

// Finds the UTF-8 body of a chunk: [*begin, *end) without the continuation bytes of a
// character cut at the start and without a sequence cut at the end. Returns false when the
// chunk is not UTF-8 with at least one multi-byte sequence.
bool FindUtf8Body(const unsigned char* p, std::size_t count, std::size_t* begin, std::size_t* end)
{
    std::size_t i = 0;
    while (i < count && i < 3 && (p[i] & 0xC0) == 0x80) {
        ++i;
    }
    *begin = i;
    bool multiByte = false;
    while (i < count) {
        const int len = Utf8SequenceAt(p + i, count - i);
        if (len == 0) {
            return false;
        }
        if (len < 0) {
            break; // cut by the end of the chunk
        }
        multiByte = multiByte || len > 1;
        i += static_cast<std::size_t>(len);
    }
    *end = i;
    return multiByte;
}

bool IsPrintableByte(char32_t c)
{
    return c >= 0x20 && c <= 0x7E;
}

bool IsPrintableChar(char32_t c)
{
    return QChar::isPrint(c);
}

// Removes every consecutive c at the start of text.
void TrimLeading(QString& text, char16_t c)
{
    qsizetype n = 0;
    while (n < text.size() && text[n] == QChar(c)) {
        ++n;
    }
    text.remove(0, n);
}

// Removes every consecutive c at the end of text.
void TrimTrailing(QString& text, char16_t c)
{
    qsizetype n = text.size();
    while (n > 0 && text[n - 1] == QChar(c)) {
        --n;
    }
    text.truncate(n);
}

} // namespace

bool IsUtf8Chunk(const char* data, std::size_t count)
{
    std::size_t begin = 0;
    std::size_t end = 0;
    return FindUtf8Body(reinterpret_cast<const unsigned char*>(data), count, &begin, &end);
}

QString MakeAlarmText(const char* data, std::size_t count)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    std::size_t begin = 0;
    std::size_t end = 0;
    const bool utf8 = FindUtf8Body(bytes, count, &begin, &end);
    QString text = utf8 ? QString::fromUtf8(data + begin, static_cast<qsizetype>(end - begin))
                        : QString::fromLatin1(data, static_cast<qsizetype>(count));
    const auto printable = utf8 ? IsPrintableChar : IsPrintableByte;

    // Trailing cut, by whole characters (a surrogate pair is one character).
    qsizetype n = text.size();
    while (n > 0) {
        char32_t c = text[n - 1].unicode();
        qsizetype width = 1;
        if (QChar::isLowSurrogate(c) && n >= 2 && text[n - 2].isHighSurrogate()) {
            c = QChar::surrogateToUcs4(text[n - 2], text[n - 1]);
            width = 2;
        }
        if (printable(c)) {
            break;
        }
        n -= width;
    }
    text.truncate(n);

    // The text ends at its first NUL.
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0) {
        text.truncate(nul);
    }

    TrimLeading(text, u'\r');
    TrimLeading(text, u'\n');
    TrimLeading(text, u' ');
    TrimTrailing(text, u' ');
    TrimTrailing(text, u'1');
    TrimTrailing(text, u' ');
    TrimTrailing(text, u'\u00DA');
    TrimTrailing(text, u'\u00B5');
    TrimTrailing(text, u'\n');
    TrimTrailing(text, u'\r');
    return text;
}
