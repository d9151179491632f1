#include "eventlog/LocaleTime.h"

#include <algorithm>
#include <mutex>

#include "platform/LocaleInfo.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"

namespace {

// LocaleLock and the one copy of the settings.
std::recursive_mutex g_localeLock;
LocaleSettings g_settings;

QChar FirstOr(const QString& text, QChar fallback)
{
    // An empty separator would end the text early; keep the default.
    return text.isEmpty() ? fallback : text.at(0);
}

// Fills the derived fields from the eight stored ones.
void Derive(LocaleSettings& s)
{
    int d = 0;
    int m = 0;
    int y = 0;
    for (const QChar c : s.shortDate) {
        if (c == u'd' || c == u'D') {
            ++d;
        } else if (c == u'M' || c == u'm') {
            ++m;
        } else if (c == u'y' || c == u'Y') {
            ++y;
        }
    }
    s.monthDigits = m == 1 ? 1 : 2;
    s.dayDigits = d == 1 ? 1 : 2;
    s.yearDigits = y == 2 ? 2 : 4;
    s.timeWidth = 5;
    if (s.clock == 0) {
        s.timeWidth += 1 + static_cast<int>(std::max(s.morning.size(), s.afternoon.size()));
    }
    s.dateWidth = s.yearDigits == 2 ? 8 : 10;
}

LocaleSettings ReadSettings()
{
    const LocaleSettings base = CLocaleTime::DeriveFromLocale(UserLocaleTimeFormats());
    const auto intKey = [](const ProfileIntKey& k, int def) {
        return GetProfileInt(QString::fromLatin1(k.section), QString::fromLatin1(k.key), def);
    };
    const auto textKey = [](const ProfileStringKey& k, const QString& def) {
        return GetProfileString(QString::fromLatin1(k.section), QString::fromLatin1(k.key), def);
    };
    LocaleSettings s;
    s.dateOrder = intKey(kProfileIntlDateOrder, base.dateOrder);
    s.clock = intKey(kProfileIntlClock, base.clock);
    s.hourLeadingZero = intKey(kProfileIntlHourLeadingZero, base.hourLeadingZero);
    s.dateSeparator = FirstOr(textKey(kProfileIntlDateSeparator, base.dateSeparator), u'/');
    s.timeSeparator = FirstOr(textKey(kProfileIntlTimeSeparator, base.timeSeparator), u':');
    s.shortDate =
        textKey(kProfileIntlShortDate, base.shortDate).left(LocaleSettings::kMaxShortDate);
    s.morning = textKey(kProfileIntlMorning, base.morning).left(LocaleSettings::kMaxMarker);
    s.afternoon = textKey(kProfileIntlAfternoon, base.afternoon).left(LocaleSettings::kMaxMarker);
    Derive(s);
    return s;
}

// Under LocaleLock: reads the settings on first use.
const LocaleSettings& Current()
{
    if (g_settings.dateWidth == 0 || g_settings.timeWidth == 0) {
        g_settings = ReadSettings();
    }
    return g_settings;
}

// A bounded writer into a wide buffer: keeps at most capacity - 1 characters and always
// terminates.
class Out
{
public:
    Out(char16_t* buffer, int capacity) : m_buffer(buffer), m_capacity(capacity) {}
    ~Out() { m_buffer[std::min(m_length, m_capacity - 1)] = u'\0'; }
    Out(const Out&) = delete;
    Out& operator=(const Out&) = delete;

    void Put(char16_t c)
    {
        if (m_length < m_capacity - 1) {
            m_buffer[m_length] = c;
        }
        ++m_length;
    }
    void Put(const QString& text)
    {
        for (const QChar c : text) {
            Put(c.unicode());
        }
    }
    // A decimal of at least digits digits, padded with pad.
    void Number(int value, int digits, char16_t pad = u'0')
    {
        char16_t tmp[12];
        int n = 0;
        unsigned v = static_cast<unsigned>(value < 0 ? -value : value);
        do {
            tmp[n++] = static_cast<char16_t>(u'0' + v % 10);
            v /= 10;
        } while (v != 0 && n < 11);
        if (value < 0) {
            tmp[n++] = u'-';
        }
        for (int i = n; i < digits; ++i) {
            Put(pad);
        }
        while (n > 0) {
            Put(tmp[--n]);
        }
    }

private:
    char16_t* m_buffer;
    int m_capacity;
    int m_length = 0;
};

void FillHashes(char16_t* buffer, int capacity)
{
    std::fill(buffer, buffer + capacity - 1, u'#');
    buffer[capacity - 1] = u'\0';
}

// Pictures of the C library: "%D", "%F", "%T", "%R" and "%r" spelled out, flags and
// modifiers noted per conversion.
struct Conversion
{
    QChar letter;
    bool noPadding = false; // "%-d"
    qsizetype end = 0;      // index after the conversion
};

QString Expand(const QString& picture, const QString& amPm)
{
    QString out;
    for (qsizetype i = 0; i < picture.size(); ++i) {
        if (picture.at(i) != u'%' || i + 1 >= picture.size()) {
            out += picture.at(i);
            continue;
        }
        const QChar c = picture.at(i + 1);
        if (c == u'D') {
            out += QStringLiteral("%m/%d/%y");
        } else if (c == u'F') {
            out += QStringLiteral("%Y-%m-%d");
        } else if (c == u'T') {
            out += QStringLiteral("%H:%M:%S");
        } else if (c == u'R') {
            out += QStringLiteral("%H:%M");
        } else if (c == u'r') {
            out += amPm.contains(QStringLiteral("%r")) ? QStringLiteral("%I:%M:%S %p") : amPm;
        } else {
            out += picture.mid(i, 2);
        }
        ++i;
    }
    return out;
}

std::vector<Conversion> Conversions(const QString& picture)
{
    std::vector<Conversion> out;
    for (qsizetype i = 0; i < picture.size(); ++i) {
        if (picture.at(i) != u'%') {
            continue;
        }
        Conversion c;
        qsizetype j = i + 1;
        while (j < picture.size() && QStringLiteral("-_0^#EO").contains(picture.at(j))) {
            c.noPadding = c.noPadding || picture.at(j) == u'-';
            ++j;
        }
        while (j < picture.size() && picture.at(j).isDigit()) {
            ++j;
        }
        if (j >= picture.size()) {
            break;
        }
        c.letter = picture.at(j);
        c.end = j + 1;
        out.push_back(c);
        i = j;
    }
    return out;
}

// A separator is one punctuation, symbol or space character after a field.
QChar SeparatorAfter(const QString& picture, qsizetype at, QChar fallback)
{
    if (at < picture.size()) {
        const QChar c = picture.at(at);
        if (c != u'%' && (c.isPunct() || c.isSymbol() || c.isSpace())) {
            return c;
        }
    }
    return fallback;
}

} // namespace

LocaleSettings CLocaleTime::DeriveFromLocale(const LocaleTimeFormats& formats)
{
    LocaleSettings s;
    // Date: the order of day, month and year, their digits and the first separator.
    const QString date = Expand(formats.dateFormat, formats.amPmFormat);
    QString fields[3];
    int dayAt = -1;
    int monthAt = -1;
    int yearAt = -1;
    int count = 0;
    qsizetype firstEnd = -1;
    for (const Conversion& c : Conversions(date)) {
        QString field;
        const char16_t l = c.letter.unicode();
        if ((l == u'd' || l == u'e') && dayAt < 0) {
            field = l == u'e' || c.noPadding ? QStringLiteral("d") : QStringLiteral("dd");
            dayAt = count;
        } else if ((l == u'm' || l == u'b' || l == u'B' || l == u'h') && monthAt < 0) {
            field = c.noPadding ? QStringLiteral("M") : QStringLiteral("MM");
            monthAt = count;
        } else if ((l == u'y' || l == u'Y') && yearAt < 0) {
            field = l == u'y' ? QStringLiteral("yy") : QStringLiteral("yyyy");
            yearAt = count;
        } else {
            continue;
        }
        if (count == 0) {
            firstEnd = c.end;
        }
        fields[count++] = field;
        if (count == 3) {
            break;
        }
    }
    if (count == 3) {
        s.dateSeparator = SeparatorAfter(date, firstEnd, u'/');
        s.dateOrder = yearAt == 0 ? 2 : (dayAt < monthAt ? 1 : 0);
        s.shortDate = fields[0] + s.dateSeparator + fields[1] + s.dateSeparator + fields[2];
    }
    // Time: the hour conversion decides the clock and the padding.
    const QString time = Expand(formats.timeFormat, formats.amPmFormat);
    s.clock = 1;
    s.hourLeadingZero = 1;
    for (const Conversion& c : Conversions(time)) {
        const char16_t l = c.letter.unicode();
        if (l == u'H' || l == u'k' || l == u'I' || l == u'l') {
            s.clock = l == u'H' || l == u'k' ? 1 : 0;
            s.hourLeadingZero = (l == u'H' || l == u'I') && !c.noPadding ? 1 : 0;
            s.timeSeparator = SeparatorAfter(time, c.end, u':');
            break;
        }
    }
    if (!formats.morning.isEmpty()) {
        s.morning = formats.morning.left(LocaleSettings::kMaxMarker);
    }
    if (!formats.afternoon.isEmpty()) {
        s.afternoon = formats.afternoon.left(LocaleSettings::kMaxMarker);
    }
    s.shortDate = s.shortDate.left(LocaleSettings::kMaxShortDate);
    Derive(s);
    return s;
}

void CLocaleTime::ReadLocaleSettings()
{
    // The profile and the locale are read outside the lock; the new values replace the old
    // ones in one step, so formatting on other threads never waits for file access.
    LocaleSettings fresh = ReadSettings();
    std::lock_guard lock(g_localeLock);
    g_settings = std::move(fresh);
}

void CLocaleTime::SetSettings(const LocaleSettings& settings)
{
    LocaleSettings s = settings;
    s.shortDate = s.shortDate.left(LocaleSettings::kMaxShortDate);
    s.morning = s.morning.left(LocaleSettings::kMaxMarker);
    s.afternoon = s.afternoon.left(LocaleSettings::kMaxMarker);
    Derive(s);
    std::lock_guard lock(g_localeLock);
    g_settings = std::move(s);
}

LocaleSettings CLocaleTime::Settings()
{
    std::lock_guard lock(g_localeLock);
    return Current();
}

void CLocaleTime::FormatLocaleDate(const TimeStamp& t, char16_t* buffer, int capacity)
{
    if (!buffer || capacity <= 0) {
        return;
    }
    std::lock_guard lock(g_localeLock);
    const LocaleSettings& s = Current();
    if (capacity <= s.dateWidth) {
        FillHashes(buffer, capacity);
        return;
    }
    const SystemTime& l = t.local;
    const int year = s.yearDigits == 2 ? l.wYear % 100 : l.wYear;
    Out out(buffer, capacity);
    const auto three = [&](int a, int da, int b, int db, int c, int dc) {
        out.Number(a, da);
        out.Put(s.dateSeparator.unicode());
        out.Number(b, db);
        out.Put(s.dateSeparator.unicode());
        out.Number(c, dc);
    };
    switch (s.dateOrder) {
    case 0:
        three(l.wMonth, s.monthDigits, l.wDay, s.dayDigits, year, s.yearDigits);
        break;
    case 1:
        three(l.wDay, s.dayDigits, l.wMonth, s.monthDigits, year, s.yearDigits);
        break;
    case 2:
        three(year, s.yearDigits, l.wMonth, s.monthDigits, l.wDay, s.dayDigits);
        break;
    default:
        out.Number(l.wMonth, 1);
        out.Put(u'/');
        out.Number(l.wDay, 2);
        out.Put(u'/');
        out.Number(l.wYear % 100, 2);
        break;
    }
}

void CLocaleTime::FormatLocaleTime(const TimeStamp& t, char16_t* buffer, int capacity,
                                   bool withSeconds)
{
    if (!buffer || capacity <= 0) {
        return;
    }
    std::lock_guard lock(g_localeLock);
    const LocaleSettings& s = Current();
    const int needed = s.timeWidth + (withSeconds ? 3 : 0);
    if (capacity <= needed) {
        FillHashes(buffer, capacity);
        return;
    }
    int hour = t.local.wHour;
    int minute = t.local.wMinute;
    int second = t.local.wSecond;
    if (t.local.wMilliseconds >= 500 && ++second == 60) {
        second = 0;
        if (++minute == 60) {
            minute = 0;
            if (++hour == 24) {
                hour = 0; // the date stays that of the old day
            }
        }
    }
    int shown = hour;
    if (s.clock == 0) {
        if (shown == 0) {
            shown = 12;
        } else if (shown > 12) {
            shown -= 12;
        }
    }
    Out out(buffer, capacity);
    out.Number(shown, 2, s.hourLeadingZero != 0 ? u'0' : u' ');
    out.Put(s.timeSeparator.unicode());
    out.Number(minute, 2);
    if (withSeconds) {
        out.Put(s.timeSeparator.unicode());
        out.Number(second, 2);
    }
    if (s.clock == 0) {
        out.Put(u' ');
        out.Put(hour < 12 ? s.morning : s.afternoon);
    }
}

QString CLocaleTime::DateText(const TimeStamp& t)
{
    char16_t buffer[kTextCapacity];
    FormatLocaleDate(t, buffer, kTextCapacity);
    return QString::fromUtf16(buffer);
}

QString CLocaleTime::TimeText(const TimeStamp& t, bool withSeconds)
{
    char16_t buffer[kTextCapacity];
    FormatLocaleTime(t, buffer, kTextCapacity, withSeconds);
    return QString::fromUtf16(buffer);
}
