#include "platform/CodePage.h"

#include <algorithm>
#include <cerrno>
#include <locale.h>
#include <mutex>

#include <iconv.h>
#include <langinfo.h>

#include "platform/Profile.h"
#include "platform/ProfileKeys.h"

namespace {

std::mutex g_cacheMutex;
QByteArray g_ansi;
QByteArray g_oem;

QByteArray LocaleCodeset()
{
    // The user's locale from the environment, without touching the process-wide locale.
    locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) {
        return "UTF-8";
    }
    QByteArray name = nl_langinfo_l(CODESET, loc);
    freelocale(loc);
    const QByteArray upper = name.toUpper();
    if (name.isEmpty() || upper == "ANSI_X3.4-1968" || upper == "ASCII" || upper == "US-ASCII" ||
        upper == "UTF8") {
        return "UTF-8";
    }
    return name;
}

bool IsUtf8(const QByteArray& codeset)
{
    const QByteArray u = codeset.toUpper();
    return u == "UTF-8" || u == "UTF8";
}

QByteArray NonNullEmpty()
{
    return QByteArray("", 0);
}

class Iconv
{
public:
    Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Iconv()
    {
        if (ok()) {
            iconv_close(m_cd);
        }
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return m_cd; }

private:
    iconv_t m_cd;
};

// Length of the UTF-8 sequence that starts with lead (1 for a stray byte).
int Utf8Length(unsigned char lead)
{
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    if (lead >= 0xE0) {
        return lead <= 0xEF ? 3 : 1;
    }
    if (lead >= 0xC2) {
        return 2;
    }
    return 1;
}

} // namespace

QByteArray NormalizeCodesetName(const QString& value)
{
    const QString v = value.trimmed();
    if (v.isEmpty()) {
        return {};
    }
    bool numeric = false;
    const int number = v.toInt(&numeric);
    if (numeric) {
        if (number == 65001) {
            return "UTF-8";
        }
        if (number == 20127) {
            return "ASCII";
        }
        if (number == 28591) {
            return "ISO-8859-1";
        }
        return "CP" + QByteArray::number(number);
    }
    return v.toUpper().toLatin1();
}

QByteArray CodesetName(CodePage page)
{
    std::lock_guard lock(g_cacheMutex);
    if (g_ansi.isEmpty()) {
        g_ansi = NormalizeCodesetName(GetProfileString(kProfileCodePage));
        if (g_ansi.isEmpty()) {
            g_ansi = LocaleCodeset();
        }
        g_oem = NormalizeCodesetName(GetProfileString(kProfileOemCodePage));
        if (g_oem.isEmpty()) {
            g_oem = g_ansi;
        }
    }
    return page == CodePage::Ansi ? g_ansi : g_oem;
}

void ReloadCodePages()
{
    std::lock_guard lock(g_cacheMutex);
    g_ansi.clear();
    g_oem.clear();
}

QByteArray WideToCodeset(const QString& text, const QByteArray& codeset, char replacement)
{
    const QByteArray utf8 = text.toUtf8();
    if (IsUtf8(codeset)) {
        return utf8.isEmpty() ? NonNullEmpty() : utf8;
    }
    Iconv cd(codeset.constData(), "UTF-8");
    if (!cd.ok()) {
        return {};
    }
    QByteArray out = NonNullEmpty();
    out.reserve(utf8.size() + 8);
    char chunk[256];
    char* in = const_cast<char*>(utf8.constData());
    size_t inLeft = static_cast<size_t>(utf8.size());
    while (inLeft > 0) {
        char* o = chunk;
        size_t oLeft = sizeof chunk;
        const size_t r = iconv(cd.get(), &in, &inLeft, &o, &oLeft);
        out.append(chunk, static_cast<qsizetype>(o - chunk));
        if (r != static_cast<size_t>(-1)) {
            continue;
        }
        if (errno == E2BIG) {
            continue;
        }
        // EILSEQ: the character cannot be held; EINVAL: cut sequence at the end.
        if (replacement == 0) {
            return {};
        }
        out.append(replacement);
        const size_t skip = std::min<size_t>(inLeft, Utf8Length(static_cast<unsigned char>(*in)));
        in += skip;
        inLeft -= skip;
    }
    // Flush a shift state (stateful encodings).
    char* o = chunk;
    size_t oLeft = sizeof chunk;
    iconv(cd.get(), nullptr, nullptr, &o, &oLeft);
    out.append(chunk, static_cast<qsizetype>(o - chunk));
    return out;
}

QString CodesetToWide(const QByteArray& bytes, const QByteArray& codeset)
{
    if (IsUtf8(codeset)) {
        return QString::fromUtf8(bytes);
    }
    Iconv cd("UTF-8", codeset.constData());
    if (!cd.ok()) {
        return QString::fromLatin1(bytes);
    }
    QByteArray utf8;
    utf8.reserve(bytes.size() * 2);
    char chunk[512];
    char* in = const_cast<char*>(bytes.constData());
    size_t inLeft = static_cast<size_t>(bytes.size());
    while (inLeft > 0) {
        char* o = chunk;
        size_t oLeft = sizeof chunk;
        const size_t r = iconv(cd.get(), &in, &inLeft, &o, &oLeft);
        utf8.append(chunk, static_cast<qsizetype>(o - chunk));
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            utf8.append("\xEF\xBF\xBD"); // U+FFFD for a byte that starts no valid sequence
            ++in;
            --inLeft;
            iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return QString::fromUtf8(utf8);
}

QByteArray WideToCodePage(const QString& text, CodePage page, char replacement)
{
    return WideToCodeset(text, CodesetName(page), replacement);
}

QString CodePageToWide(const QByteArray& bytes, CodePage page)
{
    return CodesetToWide(bytes, CodesetName(page));
}

QByteArray WideToFileCodePage(const QString& text)
{
    return WideToCodePage(text, CodePage::Ansi);
}
