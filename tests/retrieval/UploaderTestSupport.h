// A clock the uploader tests move by hand, and a window into the uploader.
#pragma once

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "link/WakeSignal.h"
#include "retrieval/MapUploader.h"
#include "retrieval/TickSource.h"

class CMapUploaderProbe {
public:
    static std::uint32_t TimerRemaining(CMapUploader& u) { return u.m_timeout.Remaining(); }
    static bool Stopping(CMapUploader& u) { return u.m_worker.StopRequested(); }
    static std::thread::id Worker(CMapUploader& u) { return u.m_worker.Id(); }
    static std::uint32_t WakeSequence(CMapUploader& u) { return u.m_worker.Wake().Sequence(); }
    // Points of the worker's loop where a test hook runs: between taking the
    // wake sequence and the stop test, on finding the reply overdue, and
    // before the failure box. Set the hook before Start.
    static constexpr int kSequenceTaken = CMapUploader::HOOK_SEQUENCE_TAKEN;
    static constexpr int kOverdue = CMapUploader::HOOK_OVERDUE;
    static constexpr int kReporting = CMapUploader::HOOK_REPORTING;
    static void Hook(CMapUploader& u, int nPoint, std::function<void()> fn)
    {
        u.m_testHook = [nPoint, fn](int nAt) {
            if (nAt == nPoint)
                fn();
        };
    }
};

// Moves only when told; wakes the attached sleepers when it moves. Records
// every reading with the reading thread and the uploader's state at that
// moment, so a test can tell when the worker has restarted its timer and
// looked at it again (a restart is one reading, each look another).
class CFakeTicks final : public ITickSource {
public:
    explicit CFakeTicks(std::uint32_t dwStart) : m_dwNow(dwStart) {}

    std::uint32_t GetTicks() override
    {
        int nState = -1;
        if (m_pObserved.load() != nullptr)
            nState = m_pObserved.load()->GetState();
        std::function<void(int)> hook;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_readings.push_back({std::this_thread::get_id(), nState});
            hook = m_hook;
        }
        if (hook)
            hook(nState);
        return m_dwNow.load();
    }
    void Attach(CWakeSignal* pWake) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_wakes.push_back(pWake);
    }
    void Detach(CWakeSignal* pWake) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_wakes.erase(std::remove(m_wakes.begin(), m_wakes.end(), pWake), m_wakes.end());
    }

    void Advance(std::uint32_t dwMs) { Set(m_dwNow.load() + dwMs); }
    void Set(std::uint32_t dwNow)
    {
        m_dwNow.store(dwNow);
        std::lock_guard<std::mutex> lock(m_mutex);
        for (CWakeSignal* p : m_wakes)
            p->Signal();
    }
    std::uint32_t Now() const { return m_dwNow.load(); }

    void Observe(CMapUploader* p) { m_pObserved.store(p); }
    void SetHook(std::function<void(int)> hook)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hook = std::move(hook);
    }
    int ReadingsBy(std::thread::id id, int nState)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return int(std::count_if(m_readings.begin(), m_readings.end(),
                                 [&](const Reading& r) { return r.id == id && r.nState == nState; }));
    }

private:
    struct Reading {
        std::thread::id id;
        int nState;
    };
    std::atomic<std::uint32_t> m_dwNow;
    std::atomic<CMapUploader*> m_pObserved{nullptr};
    std::mutex m_mutex;
    std::vector<CWakeSignal*> m_wakes;
    std::vector<Reading> m_readings;
    std::function<void(int)> m_hook;
};
