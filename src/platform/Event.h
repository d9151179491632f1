#pragma once

#include <condition_variable>
#include <mutex>

// An event: signalled or not, auto-reset (one wait consumes the signal) or
// manual-reset (stays signalled until Reset).
class Event
{
public:
    enum class Reset
    {
        Auto,
        Manual
    };

    explicit Event(Reset mode = Reset::Auto, bool initiallySet = false);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // Signals the event; wakes one waiter (auto-reset) or all (manual-reset).
    void Set();
    // Clears the signal.
    void ResetEvent();
    // Waits until signalled or timeoutMs passes (negative = no limit). Returns true when
    // signalled; an auto-reset event is cleared by the wait that sees it.
    bool Wait(int timeoutMs = -1);
    // Returns the signal without waiting or consuming it.
    bool IsSet() const;

private:
    const Reset m_mode;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_set = false;
};
