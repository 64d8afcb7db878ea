// Frame codec: the encoder builds one wire frame from a message, the decoder
// rebuilds frames from the received byte stream straight into pooled buffers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/FrameBuffer.h"

constexpr std::uint8_t kFlag = 0x7F;
constexpr std::uint8_t kEscape = 0x7D;
constexpr std::uint8_t kEscapeXor = 0x20;
constexpr std::uint8_t kAddressSent = 0x80;
constexpr std::uint8_t kAddressReceived = 0x01;
constexpr std::uint8_t kControl = 0x03;

// Worst case: three header bytes, every body byte escaped, the closing flag.
constexpr std::size_t kMaxEncodedFrame = 3 + 2 * kFrameDataSize + 1;

// Appends the FCS to the message in p, then writes the whole frame to pOut
// (kMaxEncodedFrame bytes). Returns the byte count, or 0 with nothing written
// when the message is too long to carry an FCS.
std::uint16_t EncodeFrame(FrameBuffer* p, std::uint8_t* pOut);

enum { DECODE_HUNT = 0, DECODE_ADDRESS, DECODE_CONTROL, DECODE_DATA, DECODE_ESCAPE };

// Why the decoder threw a frame away. A damaged line shows as bad checks and
// overlong frames (a flag lost to noise joins two frames); a frame for
// another address or with another control byte is well formed but unwanted.
// The header is judged only once the body has passed its check: the FCS
// covers the body alone, and a damaged frame is noise whatever its header.
enum DropReason {
    DROP_BAD_CHECK = 0,  // failed its FCS, aborted (7D 7F), or cut short before its control byte
    DROP_OVERLONG,       // more body than a buffer holds
    DROP_UNWANTED,       // passed its FCS, with an address or control byte other than the station's
    DROP_REASONS
};

// Frames thrown away, by reason.
struct FrameDrops {
    std::uint32_t adwCount[DROP_REASONS];
    std::uint32_t Total() const { return adwCount[DROP_BAD_CHECK] + adwCount[DROP_OVERLONG] + adwCount[DROP_UNWANTED]; }
};

// Zero-initialise; touched only by the thread that feeds Decode.
struct FrameDecoder {
    FrameBuffer* m_pRxFrame;   // buffer being filled, null when none is held
    std::uint8_t* m_pRxWrite;  // m_pRxFrame->abData + wLength while storing
    std::int32_t m_nRxState;
    std::int32_t m_bUnwanted;  // the frame being decoded has another address or control byte
    FrameDrops m_dropped;
};

// Runs the decoder over count bytes; each good frame is pushed onto rxQueue.
void Decode(FrameDecoder* d, FrameQueue* rxQueue, const std::uint8_t* pBytes, std::size_t count);

// Returns a held buffer to the pool and puts the decoder back to hunting.
void DecoderRelease(FrameDecoder* d);
