// Arbitrary bytes through the frame decoder, in chunk sizes derived from the
// input. Every frame that comes out must pass its check and fit its buffer,
// and no buffer may be lost or duplicated.
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "link/Fcs.h"
#include "link/FrameBuffer.h"
#include "link/FrameCodec.h"

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

std::uint32_t Held(const FrameDecoder& d) { return d.m_pRxFrame != nullptr ? 1 : 0; }

void CheckAndReturnFrames(FrameQueue* q)
{
    while (FrameBuffer* p = Pop(q)) {
        Require(FcsCheck(p));
        Require(p->wLength >= 4 && p->wLength <= kFrameDataSize);
        BufferPoolPut(p);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool s_bPool = (BufferPoolInit(), true);
    (void)s_bPool;
    std::mutex lock;
    FrameQueue q{};
    q.pLock = &lock;
    FrameDecoder d{};

    // The first byte, when odd, starves the pool down to a few buffers so the
    // empty-pool path is exercised too. The withheld buffers stay withheld
    // across inputs of the same kind, which keeps the runs fast.
    // Never destroyed, so that the leak check at exit still sees them.
    static auto* s_pWithheld = new std::vector<FrameBuffer*>;
    std::vector<FrameBuffer*>& withheld = *s_pWithheld;
    const std::uint32_t keep = (size > 0 && (data[0] & 1)) ? data[0] >> 6 : kPoolBufferCount;
    while (BufferPoolFreeCount() > keep)
        withheld.push_back(BufferPoolGet());
    while (BufferPoolFreeCount() < keep && !withheld.empty()) {
        BufferPoolPut(withheld.back());
        withheld.pop_back();
    }

    std::uint32_t rng = 0x9E3779B9u ^ static_cast<std::uint32_t>(size);
    for (std::size_t at = 0; at < size;) {
        rng = rng * 1664525u + 1013904223u + data[at];
        std::size_t chunk = 1 + (rng >> 16) % 300;
        if (chunk > size - at)
            chunk = size - at;
        Decode(&d, &q, data + at, chunk);
        at += chunk;
        Require(BufferPoolFreeCount() + withheld.size() + q.nCount.load() + Held(d) == kPoolBufferCount);
        if (d.m_pRxFrame != nullptr && d.m_nRxState == DECODE_DATA)
            Require(d.m_pRxWrite == d.m_pRxFrame->abData + d.m_pRxFrame->wLength);
        CheckAndReturnFrames(&q);
    }

    DecoderRelease(&d);
    Require(BufferPoolFreeCount() + withheld.size() == kPoolBufferCount);
    return 0;
}
