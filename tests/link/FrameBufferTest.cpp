#include <set>

#include "tests/link/LinkTestSupport.h"

namespace {

class Pool : public ::testing::Test {
protected:
    void SetUp() override
    {
        BufferPoolInit();
        q.pLock = &lock;
    }
    void TearDown() override
    {
        EXPECT_EQ(BufferPoolFreeCount(), kPoolBufferCount);
        BufferPoolDestroy();
    }

    static std::vector<FrameBuffer*> TakeAll()
    {
        std::vector<FrameBuffer*> all;
        while (FrameBuffer* p = BufferPoolGet())
            all.push_back(p);
        return all;
    }

    static void PutAll(const std::vector<FrameBuffer*>& buffers)
    {
        for (FrameBuffer* p : buffers)
            BufferPoolPut(p);
    }

    std::mutex lock;
    FrameQueue q{};
};

void ExpectClearHeader(const FrameBuffer* p)
{
    EXPECT_EQ(p->dwTag, 0u);
    EXPECT_EQ(p->pNext, nullptr);
    EXPECT_EQ(p->wLength, 0);
    EXPECT_EQ(p->bOverflow, 0);
}

TEST_F(Pool, FreshPoolHandsOutThousandDistinctClearBuffers)
{
    const auto all = TakeAll();
    ASSERT_EQ(all.size(), kPoolBufferCount);
    EXPECT_EQ(std::set<FrameBuffer*>(all.begin(), all.end()).size(), kPoolBufferCount);
    for (const FrameBuffer* p : all)
        ExpectClearHeader(p);
    EXPECT_EQ(BufferPoolFreeCount(), 0u);
    EXPECT_EQ(g_pFreeHead, nullptr);
    EXPECT_EQ(g_pFreeTail, nullptr);
    EXPECT_EQ(BufferPoolGet(), nullptr);
    PutAll(all);
}

TEST_F(Pool, FreeListIsFirstInFirstOut)
{
    auto all = TakeAll();
    // Return them in a shuffled order; they must come out in exactly that order.
    std::vector<FrameBuffer*> order;
    for (std::size_t i = 0; i < all.size(); ++i)
        order.push_back(all[(i * 617) % all.size()]);
    PutAll(order);
    EXPECT_EQ(TakeAll(), order);
    BufferPoolPut(order[5]);
    BufferPoolPut(order[2]);
    EXPECT_EQ(BufferPoolGet(), order[5]);
    BufferPoolPut(order[9]);
    EXPECT_EQ(BufferPoolGet(), order[2]);
    EXPECT_EQ(BufferPoolGet(), order[9]);
    EXPECT_EQ(BufferPoolGet(), nullptr);
    PutAll(order);
}

TEST_F(Pool, ReturnedBufferComesBackWithClearHeader)
{
    FrameBuffer* p = BufferPoolGet();
    p->dwTag = 0xDEADBEEF;
    p->pNext = p;
    p->wLength = 1023;
    p->bOverflow = 1;
    BufferPoolPut(p);
    auto all = TakeAll();
    ASSERT_EQ(all.back(), p);
    ExpectClearHeader(p);
    PutAll(all);
}

TEST_F(Pool, NullsAreIgnored)
{
    BufferPoolPut(nullptr);
    EXPECT_EQ(BufferPoolFreeCount(), kPoolBufferCount);
    Push(&q, nullptr);
    EXPECT_EQ(q.nCount.load(), 0);
    EXPECT_EQ(q.pHead, nullptr);
    EXPECT_EQ(Pop(&q), nullptr);
}

TEST_F(Pool, DestroyAfterEverythingCameBackThenFreshInit)
{
    PutAll(TakeAll());
    BufferPoolDestroy();
    EXPECT_EQ(g_pPoolLock, nullptr);
    EXPECT_EQ(BufferPoolFreeCount(), 0u);
    EXPECT_EQ(BufferPoolGet(), nullptr);
    BufferPoolInit();
    EXPECT_EQ(BufferPoolFreeCount(), kPoolBufferCount);
    const auto all = TakeAll();
    EXPECT_EQ(all.size(), kPoolBufferCount);
    PutAll(all);
}

TEST_F(Pool, QueueIsFirstInFirstOutAndEmptiesCleanly)
{
    FrameBuffer* a = BufferPoolGet();
    FrameBuffer* b = BufferPoolGet();
    FrameBuffer* c = BufferPoolGet();
    a->dwTag = 7;
    Push(&q, a);
    Push(&q, b);
    Push(&q, c);
    EXPECT_EQ(q.nCount.load(), 3);
    EXPECT_EQ(Pop(&q), a);
    EXPECT_EQ(a->pNext, nullptr);
    EXPECT_EQ(a->dwTag, 7u) << "Pop leaves the other fields alone";
    EXPECT_EQ(Pop(&q), b);
    EXPECT_EQ(Pop(&q), c);
    EXPECT_EQ(q.nCount.load(), 0);
    EXPECT_EQ(q.pTail, nullptr);
    EXPECT_EQ(Pop(&q), nullptr);
    Push(&q, b);
    EXPECT_EQ(q.pHead, b);
    EXPECT_EQ(q.pTail, b);
    EXPECT_EQ(Pop(&q), b);
    for (FrameBuffer* p : {a, b, c})
        BufferPoolPut(p);
}

TEST_F(Pool, BufferWithStaleLinkDoesNotDragOthersIntoTheQueue)
{
    FrameBuffer* a = BufferPoolGet();
    FrameBuffer* stray = BufferPoolGet();
    a->pNext = stray;
    Push(&q, a);
    EXPECT_EQ(Pop(&q), a);
    EXPECT_EQ(q.pHead, nullptr);
    BufferPoolPut(a);
    BufferPoolPut(stray);
}

}  // namespace
