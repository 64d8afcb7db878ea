// A wake-up for a worker that would otherwise poll: a counter under a mutex
// with a condition variable.
//
// The waiter reads Sequence() before it looks at what it waits for (queue
// counts, a state word, a stop flag) and passes that value to Wait. Whoever
// changes one of those things calls Signal() afterwards. A Signal that lands
// between the waiter's look and its Wait has already moved the counter, so
// Wait returns at once and no wake-up is lost.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class CWakeSignal {
public:
    std::uint32_t Sequence()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_dwSequence;
    }

    void Signal()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_dwSequence;
        }
        m_cond.notify_all();
    }

    // Returns once Signal() has been called after Sequence() gave dwSeen.
    void Wait(std::uint32_t dwSeen)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cond.wait(lock, [&] { return m_dwSequence != dwSeen; });
    }

    // As Wait, but returns after dwMilliseconds at the latest.
    void WaitFor(std::uint32_t dwSeen, std::uint32_t dwMilliseconds)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cond.wait_for(lock, std::chrono::milliseconds(dwMilliseconds), [&] { return m_dwSequence != dwSeen; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::uint32_t m_dwSequence = 0;
};
