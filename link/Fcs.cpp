#include "link/Fcs.h"

std::uint16_t FcsCompute(const std::uint8_t* p, std::size_t n)
{
    std::uint16_t fcs = kFcsInit;
    for (std::size_t i = 0; i < n; ++i)
        fcs = FcsUpdate(fcs, p[i]);
    return fcs;
}

void FcsAppend(FrameBuffer* p)
{
    if (p->wLength > kMaxMessage)
    {
        p->bOverflow = 1;
        return;
    }
    const std::uint16_t fcs = static_cast<std::uint16_t>(~FcsCompute(p->abData, p->wLength));
    std::uint8_t* pEnd = p->abData + p->wLength;
    pEnd[0] = static_cast<std::uint8_t>(fcs & 0xFFu);
    pEnd[1] = static_cast<std::uint8_t>(fcs >> 8);
    pEnd[2] = 0x00;
    pEnd[3] = 0x00;
    p->wLength = static_cast<std::uint16_t>(p->wLength + 4);
    p->bOverflow = 0;
}

// The residue covers the message and its FCS; the two trailer bytes after it
// are not looked at. A length beyond abData can only be garbage: refuse it
// rather than read past the buffer.
bool FcsCheck(const FrameBuffer* p)
{
    if (p->wLength < 2 || p->wLength > kFrameDataSize)
        return false;
    return FcsCompute(p->abData, p->wLength - 2u) == kFcsGood;
}
