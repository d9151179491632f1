#pragma once

#include <cstdint>

// Milliseconds of the steady clock (GetTickCount without its 49-day wrap).
std::uint64_t GetTickCount64();
// Sleeps the calling thread for ms milliseconds (Sleep).
void SleepMs(int ms);
