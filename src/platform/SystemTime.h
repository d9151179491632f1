#pragma once

#include <cstdint>

// Local wall-clock time in the fields of the Windows SYSTEMTIME.
struct SystemTime
{
    std::uint16_t wYear = 0;
    std::uint16_t wMonth = 0;     // 1 to 12
    std::uint16_t wDayOfWeek = 0; // 0 = Sunday
    std::uint16_t wDay = 0;       // 1 to 31
    std::uint16_t wHour = 0;
    std::uint16_t wMinute = 0;
    std::uint16_t wSecond = 0;
    std::uint16_t wMilliseconds = 0;
};

// Fills t with the current local time (GetLocalTime).
void GetLocalTime(SystemTime* t);
