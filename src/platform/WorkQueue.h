#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>

#include "platform/Event.h"
#include "platform/Worker.h"

// Why an item left a work queue without being worked on.
enum class WorkDrop
{
    Overflow, // pushed while the queue held its bound
    Stopped   // still waiting when the worker was stopped
};

// A bounded first-in, first-out queue served by one worker thread of its own. Any thread
// pushes; the owner's thread starts and stops the worker. Every item that leaves the queue
// unworked goes to the drop handler, so no request vanishes without a word. The worker is
// always joined: the handler's blocking steps wait on the stop event, which Stop sets.
template <typename T> class CWorkQueue
{
public:
    // Works on one item on the worker thread; stop is set once Stop has been called.
    using Handler = std::function<void(T& item, Event& stop)>;
    // Runs once on the worker thread before the first item; false ends the worker at once
    // (items then wait until Stop drops them).
    using SetUp = std::function<bool()>;
    // Reports an item that was not worked on. Called on the pushing thread (Overflow) or
    // on the stopping thread (Stopped), never under the queue's lock.
    using DropHandler = std::function<void(T& item, WorkDrop why)>;

    CWorkQueue(std::size_t bound, DropHandler dropped)
        : m_bound(bound), m_dropped(std::move(dropped))
    {
    }
    // Stop.
    ~CWorkQueue() { Stop(); }
    CWorkQueue(const CWorkQueue&) = delete;
    CWorkQueue& operator=(const CWorkQueue&) = delete;

    // Starts the worker. Returns true when it runs (also when it ran already; one whose
    // set-up failed is started again); false when the system refuses a thread (items then
    // queue until Stop drops them).
    bool Start(Handler handler, SetUp setUp = {})
    {
        if (m_worker.IsStarted()) {
            if (!m_worker.IsFinished()) {
                return true;
            }
            m_worker.Join(); // ended on its own (its set-up failed): start afresh
        }
        m_stop.ResetEvent();
        return m_worker.Start([this, handler = std::move(handler), setUp = std::move(setUp)] {
            if (setUp && !setUp()) {
                return;
            }
            Run(handler);
        });
    }

    // Queues item and wakes the worker. A full queue refuses it: the drop handler reports
    // it (Overflow) and Push returns false.
    bool Push(T item)
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_items.size() < m_bound) {
                m_items.push_back(std::move(item));
                m_wake.Set();
                return true;
            }
        }
        if (m_dropped) {
            m_dropped(item, WorkDrop::Overflow);
        }
        return false;
    }

    // Sets the stop event, waits for the worker to end (its current item is cut short by
    // the handler's own watch of the stop event), then drops every item still waiting
    // (Stopped), oldest first. Safe to call when no worker runs.
    void Stop()
    {
        m_stop.Set();
        m_wake.Set();
        m_worker.Join();
        std::deque<T> left;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            left.swap(m_items);
        }
        if (m_dropped) {
            for (T& item : left) {
                m_dropped(item, WorkDrop::Stopped);
            }
        }
    }

    // Items waiting (not counting the one being worked on).
    std::size_t Size() const
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_items.size();
    }
    // True while a worker thread has been started and has not returned.
    bool Running() const { return m_worker.IsStarted() && !m_worker.IsFinished(); }
    std::size_t Bound() const { return m_bound; }

private:
    void Run(const Handler& handler)
    {
        while (!m_stop.IsSet()) {
            T item;
            bool have = false;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                if (!m_items.empty()) {
                    item = std::move(m_items.front());
                    m_items.pop_front();
                    have = true;
                }
            }
            if (have) {
                handler(item, m_stop);
            } else {
                m_wake.Wait();
            }
        }
    }

    const std::size_t m_bound;
    const DropHandler m_dropped;
    mutable std::mutex m_lock; // guards m_items
    std::deque<T> m_items;
    Event m_wake{Event::Reset::Auto};
    Event m_stop{Event::Reset::Manual};
    Worker m_worker;
};
