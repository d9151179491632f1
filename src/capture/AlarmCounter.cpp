#include "capture/AlarmCounter.h"

namespace {

int g_alarmCounter = 0;

} // namespace

std::recursive_mutex& AlarmCounterLock()
{
    static std::recursive_mutex lock;
    return lock;
}

void IncrementAlarmCounter()
{
    std::lock_guard lock(AlarmCounterLock());
    ++g_alarmCounter;
}

int AlarmCounterValue()
{
    std::lock_guard lock(AlarmCounterLock());
    return g_alarmCounter;
}

void ResetAlarmCounter()
{
    std::lock_guard lock(AlarmCounterLock());
    g_alarmCounter = 0;
}
