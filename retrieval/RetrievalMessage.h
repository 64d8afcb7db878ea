// The retrieval's messages, as a frame carries them in front of its FCS:
//   request    01, type, 10
//   reply      01, type, flag, a 32-bit big-endian number[, the image bytes]
// The uploader, the station simulator and the trace all read and write them
// through these names, so that the three cannot drift apart.
#pragma once

#include <cstdint>

constexpr std::uint8_t kMsgStart = 0x01;
constexpr std::uint8_t kMsgSizeRequest = 0x00;
constexpr std::uint8_t kMsgSizeResponse = 0x01;
constexpr std::uint8_t kMsgDataRequest = 0x02;
constexpr std::uint8_t kMsgDataChunk = 0x03;
constexpr std::uint8_t kMsgRequestByte = 0x10;  // third byte of every request

constexpr std::uint32_t kMsgRequestLength = 3;
constexpr std::uint32_t kMsgHeaderLength = 7;  // of a reply: 01, type, flag, number
constexpr std::uint32_t kMsgNumberOffset = 3;

// A request of bType in p[0..2].
inline void PutMsgRequest(std::uint8_t* p, std::uint8_t bType)
{
    p[0] = kMsgStart;
    p[1] = bType;
    p[2] = kMsgRequestByte;
}

// The reply header in p[0..6].
inline void PutMsgHeader(std::uint8_t* p, std::uint8_t bType, std::uint8_t bFlag, std::uint32_t dwNumber)
{
    p[0] = kMsgStart;
    p[1] = bType;
    p[2] = bFlag;
    for (int i = 0; i < 4; ++i)
        p[kMsgNumberOffset + i] = static_cast<std::uint8_t>(dwNumber >> (24 - 8 * i));
}

// The number of a reply whose first kMsgHeaderLength bytes are at pMsg.
inline std::uint32_t ReadMsgNumber(const std::uint8_t* pMsg)
{
    const std::uint8_t* p = pMsg + kMsgNumberOffset;
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]);
}

inline bool IsMsgRequest(const std::uint8_t* pMsg, std::uint8_t bType)
{
    return pMsg[0] == kMsgStart && pMsg[1] == bType && pMsg[2] == kMsgRequestByte;
}
