#include "platform/Worker.h"

#include <system_error>

Worker::~Worker()
{
    Join();
}

bool Worker::Start(std::function<void()> fn)
{
    if (m_thread.joinable()) {
        return false;
    }
    auto state = std::make_shared<State>();
    try {
        m_thread = std::thread([state, fn = std::move(fn)] {
            fn();
            state->finished.Set();
        });
    } catch (const std::system_error&) {
        return false;
    }
    m_state = std::move(state);
    return true;
}

bool Worker::IsFinished() const
{
    return m_state && m_state->finished.IsSet();
}

bool Worker::Join(int timeoutMs)
{
    if (!m_thread.joinable()) {
        return true;
    }
    if (timeoutMs >= 0 && !m_state->finished.Wait(timeoutMs)) {
        return false;
    }
    m_thread.join();
    return true;
}
