#include "tools/tcc-upload/Trace.h"

#include <chrono>
#include <cstdio>
#include <vector>

#include "link/Fcs.h"
#include "link/HDLC.h"  // the LINK_TRACE_ values only
#include "retrieval/RetrievalMessage.h"
#include "tools/tcc-upload/Console.h"

namespace {

constexpr std::size_t kBytesPerLine = 32;

const auto g_start = std::chrono::steady_clock::now();

std::string HexDump(const std::uint8_t* pBytes, std::size_t count)
{
    std::string out;
    char sz[4];
    for (std::size_t i = 0; i < count; ++i) {
        out += i % kBytesPerLine == 0 ? "\n    " : " ";
        std::snprintf(sz, sizeof sz, "%02X", pBytes[i]);
        out += sz;
    }
    return out;
}

void Emit(const PortTrace* pTrace, const char* pszWhat, const std::string& detail, const std::uint8_t* pBytes,
          std::size_t count)
{
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - g_start).count();
    char szHead[96];
    std::snprintf(szHead, sizeof szHead, "[%11.6f] %s%s%s %zu bytes", seconds, pTrace->strLabel.c_str(),
                  pTrace->strLabel.empty() ? "" : " ", pszWhat, count);
    std::string line = szHead;
    if (!detail.empty())
        line += " (" + detail + ")";
    ConsoleTrace(line + HexDump(pBytes, count));
}

void EmitReceived(bool bFrame, const std::uint8_t* pBytes, std::size_t count, void* pContext)
{
    const PortTrace* pTrace = static_cast<const PortTrace*>(pContext);
    if (bFrame)
        Emit(pTrace, "RX frame", DescribeWireFrame(pBytes, count), pBytes, count);
    else
        Emit(pTrace, "RX dropped", "outside frames", pBytes, count);
}

std::string DescribeMessage(const std::uint8_t* pMsg, std::size_t n)
{
    char sz[64];
    const bool bReply = n >= kMsgHeaderLength && pMsg[0] == kMsgStart;
    if (bReply && pMsg[1] == kMsgSizeResponse)
        std::snprintf(sz, sizeof sz, "size response, %u bytes", ReadMsgNumber(pMsg));
    else if (bReply && pMsg[1] == kMsgDataChunk)
        std::snprintf(sz, sizeof sz, "data chunk, flag %u, %u bytes", pMsg[2], ReadMsgNumber(pMsg));
    else if (n >= kMsgRequestLength && pMsg[0] == kMsgStart &&
             (pMsg[1] == kMsgSizeRequest || pMsg[1] == kMsgDataRequest))
        std::snprintf(sz, sizeof sz, "%s request", pMsg[1] == kMsgSizeRequest ? "size" : "data");
    else
        std::snprintf(sz, sizeof sz, "message type %02X", n >= 2 ? pMsg[1] : 0u);
    return sz;
}

}  // namespace

void TraceLinkEvent(PortTrace* pTrace, int nDirection, const std::uint8_t* pBytes, std::uint32_t count)
{
    switch (nDirection) {
    case LINK_TRACE_WRITE: Emit(pTrace, "TX frame", DescribeWireFrame(pBytes, count), pBytes, count); break;
    case LINK_TRACE_BURST: pTrace->scanner.Feed(pBytes, count, EmitReceived, pTrace); break;
    case LINK_TRACE_FRAME:
        // abData as decoded: the message, its FCS and the trailer.
        Emit(pTrace, "RX to uploader", DescribeMessage(pBytes, count >= 4 ? count - 4 : 0), pBytes, count);
        break;
    default: Emit(pTrace, "link event", "", pBytes, count); break;
    }
}

// Frames run from an opening flag to the next flag; flags back to back open
// the frame again, so the earlier one counts as outside.
void CTraceScanner::Feed(const std::uint8_t* pBytes, std::size_t count, EmitProc pfnEmit, void* pContext)
{
    auto emit = [&](bool bFrame, std::string& s) {
        if (!s.empty())
            pfnEmit(bFrame, reinterpret_cast<const std::uint8_t*>(s.data()), s.size(), pContext);
        s.clear();
    };
    for (std::size_t i = 0; i < count; ++i) {
        const char b = static_cast<char>(pBytes[i]);
        if (m_frame.empty()) {
            if (pBytes[i] == kFlag) {
                emit(false, m_dropped);
                m_frame += b;
            }
            else
                m_dropped += b;
        }
        else if (pBytes[i] == kFlag && m_frame.size() == 1)
            m_dropped += b;  // a repeated opening flag: report the first one as outside
        else {
            m_frame += b;
            if (pBytes[i] == kFlag)
                emit(true, m_frame);
        }
    }
    emit(false, m_dropped);
}

// As the decoder judges a frame: its body first, then, once the body has
// passed its check, its header.
std::string DescribeWireFrame(const std::uint8_t* pBytes, std::size_t count)
{
    if (count < 3)
        return "truncated";
    std::vector<std::uint8_t> body;
    for (std::size_t i = 3; i + 1 < count; ++i) {
        if (pBytes[i] == kEscape) {
            if (pBytes[i + 1] == kFlag)
                return "aborted";
            body.push_back(static_cast<std::uint8_t>(pBytes[++i] ^ kEscapeXor));
        }
        else
            body.push_back(pBytes[i]);
    }
    if (body.size() < 5 || body.size() > kFrameDataSize)
        return body.size() < 5 ? "too short" : "too long";
    if (FcsCompute(body.data(), body.size() - 2) != kFcsGood)
        return "bad FCS";
    char sz[48];
    if (pBytes[1] != 0x01 && pBytes[1] != 0x80) {
        std::snprintf(sz, sizeof sz, "address %02X", pBytes[1]);
        return sz;
    }
    if (pBytes[2] != 0x03) {
        std::snprintf(sz, sizeof sz, "control %02X", pBytes[2]);
        return sz;
    }
    return DescribeMessage(body.data(), body.size() - 4);
}
