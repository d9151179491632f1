#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "platform/Event.h"

// A worker thread that owns its std::thread and reports whether its function has returned.
// Joining is explicit and a thread is never detached: the destructor joins a thread that is
// still joinable, so a Worker never outlives its owner with a thread running.
class Worker
{
public:
    Worker() = default;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    ~Worker();

    // Starts fn on a new thread. Returns false (nothing started) when a thread is already
    // running or the system refuses a new thread.
    bool Start(std::function<void()> fn);
    // True once started and the function has returned.
    bool IsFinished() const;
    // True between a successful Start and Join.
    bool IsStarted() const { return m_thread.joinable(); }
    // Waits up to timeoutMs (negative = no limit) for the function to return, then joins.
    // Returns true when the thread has ended and was joined (or none was started).
    bool Join(int timeoutMs = -1);

private:
    struct State
    {
        Event finished{Event::Reset::Manual};
    };
    std::shared_ptr<State> m_state;
    std::thread m_thread;
};
