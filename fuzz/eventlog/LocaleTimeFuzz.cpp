#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QByteArray>
#include <QList>
#include <QString>

#include "eventlog/LocaleTime.h"
#include "platform/LocaleInfo.h"

// Locale pictures and profile values of any shape, any time stamp fields and any buffer size:
// every text ends inside its buffer and is terminated.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 24) {
        return 0;
    }
    const auto u16 = [&](std::size_t at) {
        return static_cast<std::uint16_t>(data[at] | (data[at + 1] << 8));
    };
    SystemTime local{u16(0), u16(2), u16(4), u16(6), u16(8), u16(10), u16(12), u16(14)};
    TimeStamp t;
    StampFrom(local, t);
    const int capacity = data[16] % 40;
    const bool seconds = data[17] & 1;
    const QList<QByteArray> parts =
        QByteArray(reinterpret_cast<const char*>(data) + 24, static_cast<qsizetype>(size - 24))
            .split('\x01');
    const auto part = [&](int i) {
        return i < parts.size() ? QString::fromUtf8(parts[i]) : QString();
    };
    LocaleTimeFormats formats{part(0), part(1), part(2), part(3), part(4)};
    LocaleSettings s = CLocaleTime::DeriveFromLocale(formats);
    s.dateOrder = static_cast<std::int8_t>(data[18]);
    s.clock = data[19] & 1;
    s.hourLeadingZero = data[20] & 1;
    if (parts.size() > 5) {
        s.shortDate = part(5);
    }
    CLocaleTime::SetSettings(s);

    char16_t buffer[48];
    for (char16_t& c : buffer) {
        c = u'x';
    }
    CLocaleTime::FormatLocaleDate(t, buffer, capacity);
    CLocaleTime::FormatLocaleTime(t, buffer + 8, capacity, seconds);
    if (capacity > 0) {
        bool terminated = false;
        for (int i = 0; i < capacity; ++i) {
            terminated = terminated || buffer[8 + i] == u'\0';
        }
        if (!terminated || buffer[8 + capacity] != u'x') {
            std::abort();
        }
    }
    return 0;
}
