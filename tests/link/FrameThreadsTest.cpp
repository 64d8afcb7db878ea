// Pool and queue under contention, in the roles of the real threads: producers
// take buffers and push them, consumers pop them and give them back. Every
// buffer sent must arrive exactly once, and the pool must end up whole.
#include <thread>

#include "tests/link/LinkTestSupport.h"

namespace {

constexpr int kProducers = 3;
constexpr int kConsumers = 3;
constexpr std::uint32_t kPerProducer = 20000;

void Produce(FrameQueue* q, std::uint32_t producer)
{
    for (std::uint32_t seq = 0; seq < kPerProducer;) {
        FrameBuffer* p = BufferPoolGet();
        if (p == nullptr) {
            std::this_thread::yield();
            continue;
        }
        const std::uint32_t id = producer * kPerProducer + seq++;
        std::memcpy(p->abData, &id, sizeof id);
        p->wLength = sizeof id;
        Push(q, p);
    }
}

void Consume(FrameQueue* q, std::atomic<std::uint32_t>* pRemaining, std::vector<std::uint32_t>* pSeen)
{
    while (pRemaining->load(std::memory_order_relaxed) > 0) {
        // Unlocked hint first, as the link worker does; Pop decides.
        if (q->nCount.load(std::memory_order_acquire) == 0) {
            std::this_thread::yield();
            continue;
        }
        FrameBuffer* p = Pop(q);
        if (p == nullptr)
            continue;
        std::uint32_t id = 0;
        std::memcpy(&id, p->abData, sizeof id);
        pSeen->push_back(id);
        pRemaining->fetch_sub(1, std::memory_order_relaxed);
        BufferPoolPut(p);
    }
}

TEST(FrameThreads, ConcurrentGetPushPopPutLosesAndDuplicatesNothing)
{
    BufferPoolInit();
    std::mutex lock;
    FrameQueue q{};
    q.pLock = &lock;
    std::atomic<std::uint32_t> remaining{kProducers * kPerProducer};
    std::vector<std::vector<std::uint32_t>> seen(kConsumers);
    std::vector<std::thread> threads;
    for (int c = 0; c < kConsumers; ++c)
        threads.emplace_back(Consume, &q, &remaining, &seen[c]);
    for (int p = 0; p < kProducers; ++p)
        threads.emplace_back(Produce, &q, static_cast<std::uint32_t>(p));
    for (auto& t : threads)
        t.join();

    std::vector<int> hits(kProducers * kPerProducer, 0);
    for (const auto& ids : seen)
        for (std::uint32_t id : ids)
            ++hits.at(id);
    for (std::size_t id = 0; id < hits.size(); ++id)
        ASSERT_EQ(hits[id], 1) << "id " << id;
    EXPECT_EQ(q.nCount.load(), 0);
    EXPECT_EQ(q.pTail, nullptr);
    EXPECT_EQ(BufferPoolFreeCount(), kPoolBufferCount);
    BufferPoolDestroy();
}

TEST(FrameThreads, DecoderAgainstConcurrentConsumer)
{
    // The serial reader decodes while the link worker pops and returns frames.
    BufferPoolInit();
    std::mutex lock;
    FrameQueue q{};
    q.pLock = &lock;
    constexpr std::uint32_t kFrames = 5000;
    std::atomic<std::uint32_t> remaining{kFrames};
    std::vector<std::uint32_t> seen;
    std::thread consumer(Consume, &q, &remaining, &seen);

    FrameDecoder decoder{};
    for (std::uint32_t id = 0; id < kFrames; ++id) {
        Bytes message(sizeof id);
        std::memcpy(message.data(), &id, sizeof id);
        const Bytes wire = StationFrame(BodyOf(message));
        // The decoder is the only taker, so once a buffer is free the
        // opening flag below gets it; without one the frame would be lost.
        while (decoder.m_pRxFrame == nullptr && BufferPoolFreeCount() == 0)
            std::this_thread::yield();
        Decode(&decoder, &q, wire.data(), wire.size());
    }
    consumer.join();
    DecoderRelease(&decoder);
    std::vector<int> hits(kFrames, 0);
    for (std::uint32_t id : seen)
        ++hits.at(id);
    for (std::size_t id = 0; id < kFrames; ++id)
        ASSERT_EQ(hits[id], 1) << "id " << id;
    EXPECT_EQ(BufferPoolFreeCount(), kPoolBufferCount);
    BufferPoolDestroy();
}

// Uploaders that overlap in one process (tcc-upload with several ports):
// one owner's threads keep using the pool while others set it up, use it and
// tear it down. Nobody may find the lock gone or replaced, no buffer may be
// freed while held, and each owner leaves exactly its 1000 behind it.
TEST(FrameThreads, OverlappingPoolOwnersLeaveEachOtherWhole)
{
    BufferPoolInit();
    std::mutex* const pLock = g_pPoolLock;
    std::atomic<bool> bDone{false};
    std::thread longLived([&] {
        while (!bDone.load(std::memory_order_relaxed))
            if (FrameBuffer* p = BufferPoolGet()) {
                p->abData[0] = 1;  // the holder writes: a freed buffer shows here under ASan
                BufferPoolPut(p);
            }
    });
    std::vector<std::thread> owners;
    for (int t = 0; t < 3; ++t)
        owners.emplace_back([] {
            for (int round = 0; round < 20; ++round) {
                BufferPoolInit();
                std::vector<FrameBuffer*> held;
                for (int i = 0; i < 200; ++i)
                    if (FrameBuffer* p = BufferPoolGet())
                        held.push_back(p);
                for (FrameBuffer* p : held)
                    BufferPoolPut(p);
                BufferPoolDestroy();
            }
        });
    for (auto& t : owners)
        t.join();
    bDone.store(true, std::memory_order_relaxed);
    longLived.join();
    EXPECT_EQ(g_pPoolLock, pLock) << "the first owner's lock stays while it owns the pool";
    EXPECT_EQ(BufferPoolFreeCount(), kPoolBufferCount);
    BufferPoolDestroy();
    EXPECT_EQ(g_pPoolLock, nullptr);
    EXPECT_EQ(BufferPoolFreeCount(), 0u);
}

}  // namespace
