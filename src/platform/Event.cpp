#include "platform/Event.h"

#include <chrono>

Event::Event(Reset mode, bool initiallySet) : m_mode(mode), m_set(initiallySet) {}

void Event::Set()
{
    {
        std::lock_guard lock(m_mutex);
        m_set = true;
    }
    if (m_mode == Reset::Auto) {
        m_cv.notify_one();
    } else {
        m_cv.notify_all();
    }
}

void Event::ResetEvent()
{
    std::lock_guard lock(m_mutex);
    m_set = false;
}

bool Event::Wait(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    const auto ready = [this] { return m_set; };
    if (timeoutMs < 0) {
        m_cv.wait(lock, ready);
    } else if (!m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
        return false;
    }
    if (m_mode == Reset::Auto) {
        m_set = false;
    }
    return true;
}

bool Event::IsSet() const
{
    std::lock_guard lock(m_mutex);
    return m_set;
}
