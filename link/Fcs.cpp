#include "link/Fcs.h"

std::uint16_t FcsCompute(const std::uint8_t* p, std::size_t n)
{
    const auto& t = kFcsSlices;
    unsigned fcs = kFcsInit;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const unsigned x = fcs ^ p[i] ^ (static_cast<unsigned>(p[i + 1]) << 8);
        fcs = t[3][x & 0xFFu] ^ t[2][x >> 8] ^ t[1][p[i + 2]] ^ t[0][p[i + 3]];
    }
    for (; i < n; ++i)
        fcs = FcsUpdate(static_cast<std::uint16_t>(fcs), p[i]);
    return static_cast<std::uint16_t>(fcs);
}

void FcsAppend(FrameBuffer* p)
{
    if (p->wLength > kMaxMessage) {
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
