// The worker wait seam: see WorkerWait.h.
#include "retrieval/WorkerWait.h"

#include <atomic>

namespace {

std::atomic<WorkerWaitProc> g_pfnWorkerWait{nullptr};

}  // namespace

void SetWorkerWait(WorkerWaitProc pfnWait) { g_pfnWorkerWait.store(pfnWait, std::memory_order_release); }

void WaitForWorker(std::thread& worker)
{
    WorkerWaitProc pfnWait = g_pfnWorkerWait.load(std::memory_order_acquire);
    if (pfnWait != nullptr)
        pfnWait(worker);
    else
        worker.join();
}
