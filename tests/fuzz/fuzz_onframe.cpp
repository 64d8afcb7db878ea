// Drives CMapUploader::OnFrame with arbitrary frames in every state.
//
// Input: byte 0 picks the state the frames meet (its low 3 bits) and whether
// a size response for the size in bytes 1-4 is taken first (bit 3, so that
// AwaitData has an image to fill). The rest is a series of frames, each a
// 16-bit little-endian wLength (taken modulo 1025) followed by up to that many
// data bytes. No worker runs: the uploader is never started, so this thread is
// the link's worker as far as OnFrame is concerned.
//
// One uploader serves every input: building one fills the pool and opens the
// line, which would cost far more than the frames it is fed. Between inputs
// it is put back to the state a new one starts in.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/FrameBuffer.h"
#include "retrieval/MapUploader.h"
#include "tests/fakes/FakeLine.h"

class CMapUploaderProbe {
public:
    static void SetState(CMapUploader& u, int nState) { u.m_nState.store(nState); }
    static void Renew(CMapUploader& u)
    {
        delete[] u.m_pImage;
        u.m_pImage = nullptr;
        u.m_pWrite = nullptr;
        u.m_dwReceived.store(0);
        u.m_dwTotal.store(0);
        u.m_bFinished.store(0);
        u.m_nState.store(RequestSize);
    }
};

namespace {

void Check(bool bOk)
{
    if (!bOk)
        std::abort();
}

void DeliverFrame(CMapUploader& u, const std::uint8_t* pBytes, std::size_t count, std::uint16_t wLength)
{
    FrameBuffer* p = BufferPoolGet();
    Check(p != nullptr);
    std::memcpy(p->abData, pBytes, count);
    p->wLength = wLength;
    u.OnFrame(p);
    Check(BufferPoolFreeCount() == kPoolBufferCount);
    Check(u.GetReceived() <= u.GetTotalSize());
    Check(u.GetTotalSize() <= CMapUploader::kMaxImageSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t size)
{
    if (size < 5)
        return 0;
    static CMapUploader* s_pUploader = [] {
        FakeLine::Reset(true);
        return new CMapUploader("COM1");
    }();
    CMapUploader& u = *s_pUploader;
    CMapUploaderProbe::Renew(u);
    int nState = pData[0] & 7;
    if (pData[0] & 8) {
        std::uint8_t abSize[11] = {0x01, 0x01, 0x00, pData[1], pData[2], pData[3], pData[4]};
        CMapUploaderProbe::SetState(u, AwaitSize);
        DeliverFrame(u, abSize, sizeof abSize, sizeof abSize);
    }
    CMapUploaderProbe::SetState(u, nState);
    std::size_t offset = 5;
    while (offset + 2 <= size) {
        std::uint16_t wLength = std::uint16_t((pData[offset] | (pData[offset + 1] << 8)) % 1025);
        offset += 2;
        std::size_t count = std::min<std::size_t>(wLength, size - offset);
        DeliverFrame(u, pData + offset, count, wLength);
        offset += count;
    }
    // Only a full image may complete a retrieval that the frames moved on.
    if (nState != Complete && nState != Done && u.GetState() == Complete)
        Check(u.GetReceived() == u.GetTotalSize());
    return 0;
}
