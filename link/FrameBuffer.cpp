#include "link/FrameBuffer.h"

#include <new>

FrameBuffer* g_pFreeHead = nullptr;
FrameBuffer* g_pFreeTail = nullptr;
std::atomic<std::uint32_t> g_nFreeCount{0};
std::mutex* g_pPoolLock = nullptr;

namespace {

// Several uploaders may run at once (tcc-upload with several ports), each
// owning the pool for its lifetime. The guard orders their set-ups and
// tear-downs; the lock is created by the first owner and deleted by the last,
// so it never changes while another owner's threads may use it.
std::mutex g_poolOwnersGuard;
std::uint32_t g_nPoolOwners = 0;  // under g_poolOwnersGuard

}  // namespace

// Each owner adds its 1000 buffers. The first creates the lock, before any
// other thread can see the pool. Allocation failures are not fatal: a buffer
// that cannot be allocated is simply not in the pool, and without a lock the
// pool stays empty, so every Get returns null.
void BufferPoolInit()
{
    std::scoped_lock guard(g_poolOwnersGuard);
    if (g_nPoolOwners++ == 0)
        g_pPoolLock = new (std::nothrow) std::mutex;
    if (g_pPoolLock == nullptr)
        return;
    for (std::uint32_t i = 0; i < kPoolBufferCount; ++i)
        BufferPoolPut(new (std::nothrow) FrameBuffer);
}

// Frees only what is on the free list; the pool keeps no record of buffers
// handed out, so the owner returns them all first. An owner that leaves
// others behind takes its 1000 back (fewer when the others hold more than
// their share just then; the last owner frees whatever is left).
void BufferPoolDestroy()
{
    std::scoped_lock guard(g_poolOwnersGuard);
    if (g_nPoolOwners == 0)
        return;
    const bool bLast = --g_nPoolOwners == 0;
    for (std::uint32_t i = 0; bLast || i < kPoolBufferCount; ++i) {
        FrameBuffer* p = BufferPoolGet();
        if (p == nullptr)
            break;
        delete p;
    }
    if (!bLast)
        return;
    delete g_pPoolLock;
    g_pPoolLock = nullptr;
}

FrameBuffer* BufferPoolGet()
{
    if (g_pPoolLock == nullptr)
        return nullptr;
    FrameBuffer* p = nullptr;
    {
        std::scoped_lock lock(*g_pPoolLock);
        if (g_nFreeCount.load(std::memory_order_relaxed) == 0)
            return nullptr;
        p = g_pFreeHead;
        g_pFreeHead = p->pNext;
        if (g_nFreeCount.fetch_sub(1, std::memory_order_relaxed) == 1)
            g_pFreeTail = nullptr;
    }
    p->pNext = nullptr;
    p->dwTag = 0;
    return p;
}

void BufferPoolPut(FrameBuffer* p)
{
    if (p == nullptr || g_pPoolLock == nullptr)
        return;
    std::scoped_lock lock(*g_pPoolLock);
    p->dwTag = 0;
    p->pNext = nullptr;
    p->bOverflow = 0;
    p->wLength = 0;
    if (g_pFreeTail != nullptr)
        g_pFreeTail->pNext = p;
    else
        g_pFreeHead = p;
    g_pFreeTail = p;
    g_nFreeCount.fetch_add(1, std::memory_order_relaxed);
}

std::uint32_t BufferPoolFreeCount() { return g_nFreeCount.load(std::memory_order_relaxed); }

void FrameBufferReset(FrameBuffer* p) { p->wLength = 0; }

// The counts change only under the queue's lock, which orders them; the
// atomic is there for the link worker's unlocked "anything queued?" hint.
void Push(FrameQueue* q, FrameBuffer* p)
{
    if (p == nullptr)
        return;
    p->pNext = nullptr;
    std::scoped_lock lock(*q->pLock);
    if (q->pTail != nullptr)
        q->pTail->pNext = p;
    else
        q->pHead = p;
    q->pTail = p;
    q->nCount.fetch_add(1, std::memory_order_release);
}

FrameBuffer* Pop(FrameQueue* q)
{
    FrameBuffer* p = nullptr;
    {
        std::scoped_lock lock(*q->pLock);
        if (q->nCount.load(std::memory_order_relaxed) == 0)
            return nullptr;
        p = q->pHead;
        q->pHead = p->pNext;
        if (q->nCount.fetch_sub(1, std::memory_order_release) == 1)
            q->pTail = nullptr;
    }
    p->pNext = nullptr;
    return p;
}
