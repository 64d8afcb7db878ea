// Allocation seen from the pool's side: the nothrow allocation the pool uses
// is replaced here, to record the order of allocation, to make it fail on
// demand and to see which buffers are freed again.
#include <new>
#include <set>

#include "tests/link/LinkTestSupport.h"

namespace {

struct AllocationLog {
    bool bActive = false;
    long nFailAfter = -1;  // buffers allocated before every later buffer fails
    bool bFailLock = false;
    std::vector<void*>* pAllocated = nullptr;
};

AllocationLog g_log;

}  // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    if (g_log.bActive && size == sizeof(std::mutex) && g_log.bFailLock)
        return nullptr;
    if (g_log.bActive && size == sizeof(FrameBuffer) && g_log.nFailAfter >= 0 &&
        static_cast<long>(g_log.pAllocated->size()) >= g_log.nFailAfter)
        return nullptr;
    void* p = nullptr;
    try {
        p = ::operator new(size);
    }
    catch (...) {
        return nullptr;
    }
    if (g_log.bActive && size == sizeof(FrameBuffer)) {
        g_log.bActive = false;  // push_back allocates through here too
        g_log.pAllocated->push_back(p);
        g_log.bActive = true;
    }
    return p;
}

namespace {

class PoolMemory : public ::testing::Test {
protected:
    void Init(long failAfter, bool failLock = false)
    {
        g_log.bFailLock = failLock;
        m_allocated.reserve(kPoolBufferCount);
        g_log.pAllocated = &m_allocated;
        g_log.nFailAfter = failAfter;
        g_log.bActive = true;
        BufferPoolInit();
        g_log.bActive = false;
    }

    std::vector<void*> m_allocated;
};

TEST_F(PoolMemory, BuffersAreHandedOutInAllocationOrder)
{
    Init(-1);
    ASSERT_EQ(m_allocated.size(), kPoolBufferCount);
    std::vector<void*> handedOut;
    while (FrameBuffer* p = BufferPoolGet())
        handedOut.push_back(p);
    EXPECT_EQ(handedOut, m_allocated);
    for (void* p : handedOut)
        BufferPoolPut(static_cast<FrameBuffer*>(p));
    BufferPoolDestroy();
}

TEST_F(PoolMemory, ExhaustionLeavesASmallerWorkingPool)
{
    for (long failAfter : {0L, 1L, 999L}) {
        m_allocated.clear();
        Init(failAfter);
        EXPECT_EQ(BufferPoolFreeCount(), static_cast<std::uint32_t>(failAfter));
        std::vector<FrameBuffer*> taken;
        while (FrameBuffer* p = BufferPoolGet())
            taken.push_back(p);
        EXPECT_EQ(taken.size(), static_cast<std::size_t>(failAfter));
        for (FrameBuffer* p : taken)
            BufferPoolPut(p);
        BufferPoolDestroy();
    }
}

TEST_F(PoolMemory, NoLockMeansAnEmptyPoolNotACrash)
{
    Init(-1, true);
    EXPECT_EQ(g_pPoolLock, nullptr);
    EXPECT_EQ(BufferPoolGet(), nullptr);
    BufferPoolPut(nullptr);
    EXPECT_EQ(BufferPoolFreeCount(), 0u);
    BufferPoolDestroy();
}

}  // namespace
