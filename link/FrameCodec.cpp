#include "link/FrameCodec.h"

#include "link/Fcs.h"

namespace {

bool NeedsEscape(std::uint8_t b) { return b == kFlag || b == kEscape; }

// Puts the held buffer back to empty so the next frame is stored from the start.
void RestartFrame(FrameDecoder* d)
{
    FrameBufferReset(d->m_pRxFrame);
    d->m_pRxWrite = d->m_pRxFrame->abData;
}

// Opening flag while hunting: reuse the held buffer, or take one from the pool.
// Returns false when the pool is empty, so that this flag is ignored.
bool OpenFrame(FrameDecoder* d)
{
    if (d->m_pRxFrame == nullptr)
        d->m_pRxFrame = BufferPoolGet();
    if (d->m_pRxFrame == nullptr)
        return false;
    RestartFrame(d);
    return true;
}

// Stores one unescaped body byte. Returns false when the body would exceed
// abData; the length still counts the byte, so the frame cannot pass the
// check, and nothing is written past the buffer.
bool StoreByte(FrameDecoder* d, std::uint8_t b)
{
    FrameBuffer* p = d->m_pRxFrame;
    if (p->wLength >= kFrameDataSize) {
        p->wLength = kFrameDataSize + 1;
        return false;
    }
    ++p->wLength;
    *d->m_pRxWrite++ = b;
    return true;
}

// Closing flag: a good frame leaves the decoder on the receive queue; a bad
// one, or one for another, stays held and is refilled from the next opening
// flag.
void CloseFrame(FrameDecoder* d, FrameQueue* rxQueue)
{
    const bool bChecked = FcsCheck(d->m_pRxFrame);
    if (!bChecked || d->m_bUnwanted) {
        ++d->m_dropped.adwCount[bChecked ? DROP_UNWANTED : DROP_BAD_CHECK];
        return;
    }
    Push(rxQueue, d->m_pRxFrame);
    d->m_pRxFrame = nullptr;
    d->m_pRxWrite = nullptr;
}

// Counts the frame being decoded as thrown away; returns the state to go on in.
std::int32_t Drop(FrameDecoder* d, DropReason nReason, std::int32_t nNextState)
{
    ++d->m_dropped.adwCount[nReason];
    return nNextState;
}

}  // namespace

std::uint16_t EncodeFrame(FrameBuffer* p, std::uint8_t* pOut)
{
    FcsAppend(p);
    // A frame without its FCS would be taken by the station as corrupt at best;
    // refuse the message instead of sending it bare.
    if (p->bOverflow)
        return 0;
    std::uint8_t* pWrite = pOut;
    *pWrite++ = kFlag;
    *pWrite++ = kAddressSent;
    *pWrite++ = kControl;
    for (std::uint16_t i = 0; i < p->wLength; ++i) {
        const std::uint8_t b = p->abData[i];
        if (NeedsEscape(b)) {
            *pWrite++ = kEscape;
            *pWrite++ = static_cast<std::uint8_t>(b ^ kEscapeXor);
        }
        else {
            *pWrite++ = b;
        }
    }
    *pWrite++ = kFlag;
    return static_cast<std::uint16_t>(pWrite - pOut);
}

// Serial reader thread only; the decoder record is touched by no other thread.
// It is worked on in a local copy: the body stores go through a byte pointer,
// which the compiler must otherwise assume may overwrite the record.
void Decode(FrameDecoder* pDecoder, FrameQueue* rxQueue, const std::uint8_t* pBytes, std::size_t count)
{
    FrameDecoder local = *pDecoder;
    FrameDecoder* d = &local;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = pBytes[i];
        switch (d->m_nRxState) {
        case DECODE_HUNT:
            if (b == kFlag && OpenFrame(d))
                d->m_nRxState = DECODE_ADDRESS;
            break;
        // Another address or control byte is noted and the frame decoded
        // on: whether it is another's or noise, its check tells at its end.
        case DECODE_ADDRESS:
            if (b == kFlag)
                break;
            d->m_bUnwanted = b != kAddressReceived;
            d->m_nRxState = DECODE_CONTROL;
            break;
        case DECODE_CONTROL:
            if (b == kFlag)
                d->m_nRxState = Drop(d, DROP_BAD_CHECK, DECODE_ADDRESS);
            else {
                d->m_bUnwanted |= b != kControl;
                d->m_nRxState = DECODE_DATA;
            }
            break;
        case DECODE_DATA:
            if (b == kFlag) {
                CloseFrame(d, rxQueue);
                d->m_nRxState = DECODE_HUNT;
            }
            else if (b == kEscape)
                d->m_nRxState = DECODE_ESCAPE;
            else if (!StoreByte(d, b))
                d->m_nRxState = Drop(d, DROP_OVERLONG, DECODE_HUNT);
            break;
        case DECODE_ESCAPE:
            // 7D 7F is an aborted frame; this flag opens the next one, so drop
            // what was stored or the next frame would fail its check too.
            if (b == kFlag) {
                RestartFrame(d);
                d->m_nRxState = Drop(d, DROP_BAD_CHECK, DECODE_ADDRESS);
            }
            else if (StoreByte(d, static_cast<std::uint8_t>(b ^ kEscapeXor)))
                d->m_nRxState = DECODE_DATA;
            else
                d->m_nRxState = Drop(d, DROP_OVERLONG, DECODE_HUNT);
            break;
        default: d->m_nRxState = DECODE_HUNT; break;
        }
    }
    *pDecoder = local;
}

void DecoderRelease(FrameDecoder* d)
{
    BufferPoolPut(d->m_pRxFrame);
    d->m_pRxFrame = nullptr;
    d->m_pRxWrite = nullptr;
    d->m_nRxState = DECODE_HUNT;
}
