#include "eventlog/TimeStamp.h"

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DayOfYear(int year, int month, int day)
{
    static constexpr int kMonthLength[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int days = day - 1;
    for (int m = 1; m < month && m <= 12; ++m) {
        days += kMonthLength[m - 1];
        if (m == 2 && IsLeapYear(year)) {
            ++days;
        }
    }
    return days;
}

void StampFrom(const SystemTime& local, TimeStamp& stamp)
{
    stamp.local = local;
    stamp.dayOfYear = DayOfYear(local.wYear, local.wMonth, local.wDay);
    stamp.millisecondsOfDay =
        ((static_cast<std::uint32_t>(local.wHour) * 60 + local.wMinute) * 60 + local.wSecond) *
            1000 +
        local.wMilliseconds;
}

void StampNow(TimeStamp& stamp)
{
    SystemTime now;
    GetLocalTime(&now);
    StampFrom(now, stamp);
}
