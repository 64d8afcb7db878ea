// A worker thread with its stop flag and its wake-up, started and joined by
// the object that owns it: the link's worker and the uploader's.
//
// The worker's loop takes Wake().Sequence() before it tests StopRequested()
// and whatever else it waits for, then sleeps on that sequence: a Stop or a
// Signal made after the look still ends the sleep.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "link/WakeSignal.h"

class CWorkerThread {
public:
    typedef void (*JoinProc)(std::thread& worker);
    typedef void (*RunProc)(void* pContext);

    // pfnJoin: how Stop waits for the thread to end; null joins plainly.
    explicit CWorkerThread(JoinProc pfnJoin = nullptr);
    ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // Clears the stop flag and runs pfnRun(pContext) on a new thread. Returns
    // false when no thread could be made; does nothing while one is running.
    bool Start(RunProc pfnRun, void* pContext);
    // Any thread but the worker: sets the stop flag, wakes the worker and
    // returns once it has ended. Safe to call again.
    void Stop();
    bool IsStarted() const { return m_pThread != nullptr; }
    std::thread::id Id() const { return m_pThread != nullptr ? m_pThread->get_id() : std::thread::id(); }

    // The worker's own view: whether to leave its loop, and a way to ask it
    // of itself once its work is done.
    bool StopRequested() const { return m_bStop.load(std::memory_order_acquire) != 0; }
    void SetStop() { m_bStop.store(1, std::memory_order_release); }

    CWakeSignal& Wake() { return m_wake; }

private:
    JoinProc m_pfnJoin;
    std::thread* m_pThread;
    std::atomic<std::uint32_t> m_bStop;
    CWakeSignal m_wake;
};
