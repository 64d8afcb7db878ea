// The worker thread: see WorkerThread.h.
#include "link/WorkerThread.h"

CWorkerThread::CWorkerThread(JoinProc pfnJoin) : m_pfnJoin(pfnJoin), m_pThread(nullptr), m_bStop(0) {}

CWorkerThread::~CWorkerThread() { Stop(); }

bool CWorkerThread::Start(RunProc pfnRun, void* pContext)
{
    if (m_pThread != nullptr)
        return true;
    m_bStop.store(0, std::memory_order_release);
    try {
        m_pThread = new std::thread(pfnRun, pContext);
    }
    catch (...) {
        m_pThread = nullptr;
        return false;
    }
    return true;
}

void CWorkerThread::Stop()
{
    m_bStop.store(1, std::memory_order_release);
    m_wake.Signal();
    if (m_pThread == nullptr)
        return;
    if (m_pfnJoin != nullptr)
        m_pfnJoin(*m_pThread);
    else
        m_pThread->join();
    delete m_pThread;
    m_pThread = nullptr;
}
