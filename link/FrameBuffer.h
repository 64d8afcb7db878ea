// Frame buffers, the process-wide buffer pool and the locked frame queues.
// Plain records and free functions: the pool has no owning object, and a
// FrameQueue lives inside its owner, which creates and destroys its lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

constexpr std::size_t kFrameDataSize = 1024;
constexpr std::uint32_t kPoolBufferCount = 1000;

struct FrameBuffer {
    std::uint32_t dwTag;  // reserved; the pool zeroes it on the way in and out
    FrameBuffer* pNext;   // free-list or queue link, null while a holder has it
    std::uint8_t abData[kFrameDataSize];
    std::uint16_t wLength;   // valid bytes at the start of abData
    std::uint8_t bOverflow;  // set by FcsAppend when the message is too long
};

// Each owner (an uploader) sets the pool up once and tears it down once, after
// returning every buffer it holds. Owners may overlap: each adds 1000 buffers
// and takes them back; the last one frees the pool and its lock.
void BufferPoolInit();
void BufferPoolDestroy();

// Any thread. Get returns null when the free list is empty, never waits.
FrameBuffer* BufferPoolGet();
void BufferPoolPut(FrameBuffer* p);   // null ignored
std::uint32_t BufferPoolFreeCount();  // buffers on the free list, for checks

// Holder only, no lock: forgets the stored bytes.
void FrameBufferReset(FrameBuffer* p);

// Value-initialise with FrameQueue q{}; the owner sets pLock before first use.
// nCount may be read without the lock as a hint; Pop checks it again under it.
struct FrameQueue {
    FrameBuffer* pHead;
    FrameBuffer* pTail;
    std::atomic<std::uint16_t> nCount;
    std::mutex* pLock;
};

void Push(FrameQueue* q, FrameBuffer* p);  // null buffer ignored
FrameBuffer* Pop(FrameQueue* q);           // null when empty

// The pool's state; only FrameBuffer.cpp changes it. Declared for inspection.
extern FrameBuffer* g_pFreeHead;
extern FrameBuffer* g_pFreeTail;
extern std::atomic<std::uint32_t> g_nFreeCount;
extern std::mutex* g_pPoolLock;
