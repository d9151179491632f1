#pragma once

#include <mutex>

// The number of alarm texts handled since the main window was created, shown in the status
// bar as "SMS Count: %d". Changed and read only under AlarmCounterLock.

// The lock that guards the counter (re-entrant, like a critical section).
std::recursive_mutex& AlarmCounterLock();
// Adds one under the lock.
void IncrementAlarmCounter();
// Returns the counter, read under the lock.
int AlarmCounterValue();
// Sets the counter to 0 under the lock (the main window's construction does).
void ResetAlarmCounter();
