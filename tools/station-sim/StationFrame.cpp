#include "tools/station-sim/StationFrame.h"

#include "link/Fcs.h"
#include "link/FrameCodec.h"
#include "retrieval/RetrievalMessage.h"

std::vector<std::uint8_t> StationBody(const std::uint8_t* pMsg, std::size_t n)
{
    const std::uint16_t fcs = static_cast<std::uint16_t>(~FcsCompute(pMsg, n));
    std::vector<std::uint8_t> body(pMsg, pMsg + n);
    body.insert(body.end(), {static_cast<std::uint8_t>(fcs & 0xFF), static_cast<std::uint8_t>(fcs >> 8), 0x00, 0x00});
    return body;
}

std::vector<std::uint8_t> EncodeStationBody(const std::uint8_t* pBody, std::size_t n, std::uint8_t bAddress,
                                            std::uint8_t bControl)
{
    std::vector<std::uint8_t> out;
    out.reserve(3 + 2 * n + 1);
    out.push_back(kFlag);
    out.push_back(bAddress);
    out.push_back(bControl);
    for (std::size_t i = 0; i < n; ++i) {
        if (pBody[i] == kFlag || pBody[i] == kEscape) {
            out.push_back(kEscape);
            out.push_back(static_cast<std::uint8_t>(pBody[i] ^ kEscapeXor));
        }
        else
            out.push_back(pBody[i]);
    }
    out.push_back(kFlag);
    return out;
}

std::vector<std::uint8_t> EncodeStationFrame(const std::uint8_t* pMsg, std::size_t n, std::uint8_t bAddress,
                                             std::uint8_t bControl)
{
    const std::vector<std::uint8_t> body = StationBody(pMsg, n);
    return EncodeStationBody(body.data(), body.size(), bAddress, bControl);
}

std::vector<std::uint8_t> StationReplyHeader(std::uint8_t bType, std::uint8_t bFlag, std::uint32_t dwNumber)
{
    std::vector<std::uint8_t> msg(kMsgHeaderLength);
    PutMsgHeader(msg.data(), bType, bFlag, dwNumber);
    return msg;
}
