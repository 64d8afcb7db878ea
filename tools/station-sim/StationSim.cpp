#include "tools/station-sim/StationSim.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "link/Fcs.h"
#include "link/FrameCodec.h"
#include "retrieval/RetrievalMessage.h"
#include "tools/station-sim/StationFrame.h"

namespace {

constexpr std::uint8_t kHostAddress = kAddressSent;  // the host's frames, as the station sees them
constexpr std::size_t kMaxBody = kFrameDataSize;

std::vector<std::uint8_t> ChunkMessage(std::uint8_t bFlag, std::uint32_t dwCount)
{
    return StationReplyHeader(kMsgDataChunk, bFlag, dwCount);
}

}  // namespace

std::uint32_t SimFaultFromName(const std::string& name, double* pdFlipRate)
{
    static const std::pair<const char*, std::uint32_t> kNames[] = {
        {"no-answer", FAULT_NO_ANSWER},   {"oversize", FAULT_OVERSIZE}, {"short-last", FAULT_SHORT_LAST},
        {"long-chunk", FAULT_LONG_CHUNK}, {"noise", FAULT_NOISE},       {"close-mid", FAULT_CLOSE_MID},
        {"truncated", FAULT_TRUNCATED},
    };
    for (const auto& [pszName, dwFault] : kNames)
        if (name == pszName)
            return dwFault;
    if (name.rfind("flip:", 0) != 0 || name.size() == 5)
        return FAULT_NONE;
    char* pEnd = nullptr;
    const double dRate = std::strtod(name.c_str() + 5, &pEnd);
    if (*pEnd != '\0' || !(dRate > 0 && dRate <= 1))
        return FAULT_NONE;
    if (pdFlipRate != nullptr)
        *pdFlipRate = dRate;
    return FAULT_FLIP;
}

namespace {

// splitmix64: one 64-bit number a step, the same on every platform.
std::uint64_t NextRandom(std::uint64_t& state)
{
    state += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

}  // namespace

std::vector<std::uint8_t> GenerateImage(std::uint32_t dwSize, std::uint64_t qwSeed)
{
    std::vector<std::uint8_t> image(dwSize);
    std::uint64_t state = qwSeed;
    for (std::uint32_t i = 0; i < dwSize; i += 8) {
        const std::uint64_t z = NextRandom(state);
        for (std::uint32_t k = 0; k < 8 && i + k < dwSize; ++k)
            image[i + k] = static_cast<std::uint8_t>(z >> (8 * k));
    }
    return image;
}

// The flips draw from a stream of their own, apart from the image's, which
// the same seed also makes.
CStationSim::CStationSim(SimConfig config)
    : m_config(std::move(config)), m_qwFlipState(m_config.qwFlipSeed ^ 0xD1B54A32D192ED03ull)
{
    m_body.reserve(kMaxBody);
}

// Each byte has one random bit flipped with the chance the fault gives: a
// line's noise hits frames, flags and escapes alike.
void CStationSim::Flip(std::vector<std::uint8_t>& bytes)
{
    const double dScaled = m_config.dFlipRate * 18446744073709551616.0;  // 2^64
    const std::uint64_t qwBelow = dScaled >= 18446744073709551615.0 ? UINT64_MAX : static_cast<std::uint64_t>(dScaled);
    for (std::uint8_t& b : bytes) {
        if (NextRandom(m_qwFlipState) >= qwBelow)
            continue;
        b ^= static_cast<std::uint8_t>(1u << (NextRandom(m_qwFlipState) & 7));
        ++m_stats.dwFlips;
    }
}

void CStationSim::OnReceive(const std::uint8_t* pBytes, std::size_t count)
{
    m_stats.qwWireReceived += count;
    for (std::size_t i = 0; i < count; ++i)
        OnHostByte(pBytes[i]);
}

// The host's frames mirror the station's, with address 0x80. A closing flag
// may also open the next frame, so a host that shares flags is still heard.
void CStationSim::OnHostByte(std::uint8_t b)
{
    switch (m_nHostState) {
    case HOST_HUNT:
        if (b == kFlag)
            m_nHostState = HOST_ADDRESS;
        break;
    case HOST_ADDRESS:
        if (b == kHostAddress) {
            m_body.clear();
            m_bBodyOverflow = false;
            m_nHostState = HOST_CONTROL;
        }
        else if (b != kFlag) {
            ++m_stats.dwBadFrames;
            m_nHostState = HOST_HUNT;
        }
        break;
    case HOST_CONTROL:
        if (b == kControl)
            m_nHostState = HOST_DATA;
        else {
            ++m_stats.dwBadFrames;
            m_nHostState = b == kFlag ? HOST_ADDRESS : HOST_HUNT;
        }
        break;
    case HOST_DATA:
        if (b == kFlag) {
            OnHostFrame();
            m_nHostState = HOST_ADDRESS;
        }
        else if (b == kEscape)
            m_nHostState = HOST_ESCAPE;
        else if (m_body.size() < kMaxBody)
            m_body.push_back(b);
        else
            m_bBodyOverflow = true;
        break;
    case HOST_ESCAPE:
        if (b == kFlag) {
            ++m_stats.dwBadFrames;  // 7D 7F aborts the frame
            m_nHostState = HOST_ADDRESS;
            break;
        }
        if (m_body.size() < kMaxBody)
            m_body.push_back(static_cast<std::uint8_t>(b ^ kEscapeXor));
        else
            m_bBodyOverflow = true;
        m_nHostState = HOST_DATA;
        break;
    }
}

// A request is exactly message + FCS + 00 00; anything else is not answered.
void CStationSim::OnHostFrame()
{
    const std::size_t n = m_body.size();
    if (m_bBodyOverflow || n < 5 || FcsCompute(m_body.data(), n - 2) != kFcsGood || m_body[n - 2] != 0 ||
        m_body[n - 1] != 0) {
        ++m_stats.dwBadFrames;
        return;
    }
    const bool bRequest = n == kMsgRequestLength + 4;
    const bool bSize = bRequest && IsMsgRequest(m_body.data(), kMsgSizeRequest);
    const bool bData = bRequest && IsMsgRequest(m_body.data(), kMsgDataRequest);
    if (!bSize && !bData) {
        ++m_stats.dwIgnored;
        return;
    }
    ++m_stats.dwRequests;
    ++m_dwRequests;
    m_dwSizeRequests += bSize;
    if (Faults() & FAULT_NO_ANSWER)
        return;
    if (bSize)
        PlanSizeResponse();
    else
        PlanTransfer();
}

// A transfer ends with the next size request: a host trying again meets a
// healthy station when the faults are for the first transfer only.
bool CStationSim::FaultsApply() const { return !m_config.bFirstTransferOnly || m_dwSizeRequests <= 1; }

std::uint32_t CStationSim::Faults() const { return FaultsApply() ? m_config.dwFaults : FAULT_NONE; }

bool CStationSim::Next(SimAction& action)
{
    if (m_plan.empty())
        return false;
    action = std::move(m_plan.front());
    m_plan.pop_front();
    if (action.nKind != SimAction::BYTES)
        return true;
    m_stats.qwWireSent += action.bytes.size();
    if (Faults() & FAULT_FLIP)
        Flip(action.bytes);
    return true;
}

void CStationSim::QueueMessage(const std::vector<std::uint8_t>& msg)
{
    m_plan.push_back({SimAction::BYTES, EncodeStationFrame(msg.data(), msg.size()), 0});
}

// A size request starts a retrieval: whatever an earlier client left queued
// is dropped.
void CStationSim::PlanSizeResponse()
{
    m_plan.clear();
    ++m_dwRetrievals;
    if (Faults() & FAULT_NOISE) {
        // A chunk before the size is known must be ignored by the host.
        std::vector<std::uint8_t> early = ChunkMessage(0x00, 4);
        early.insert(early.end(), {0xDE, 0xAD, 0xBE, 0xEF});
        QueueMessage(early);
    }
    std::uint32_t dwSize = static_cast<std::uint32_t>(m_config.image.size());
    if (Faults() & FAULT_OVERSIZE)
        dwSize = std::max(dwSize, kSimOversize);
    QueueMessage(StationReplyHeader(kMsgSizeResponse, 0x00, dwSize));
}

// Chunks of up to kSimMaxChunk bytes, (offset, count); an empty image is one
// empty chunk. With long-chunk the last chunk must have room for one more byte.
std::vector<std::pair<std::uint32_t, std::uint32_t>> CStationSim::ChunkPlan() const
{
    const std::uint32_t dwSize = static_cast<std::uint32_t>(m_config.image.size());
    std::vector<std::pair<std::uint32_t, std::uint32_t>> chunks;
    for (std::uint32_t off = 0; off < dwSize; off += kSimMaxChunk)
        chunks.emplace_back(off, std::min(kSimMaxChunk, dwSize - off));
    if (chunks.empty())
        chunks.emplace_back(0, 0);
    if ((Faults() & FAULT_LONG_CHUNK) && chunks.back().second == kSimMaxChunk) {
        chunks.back().second -= 1;
        chunks.emplace_back(chunks.back().first + kSimMaxChunk - 1, 1);
    }
    return chunks;
}

void CStationSim::PlanTransfer()
{
    m_plan.clear();
    const auto chunks = ChunkPlan();
    const std::size_t nLast = chunks.size() - 1;
    const std::size_t nStallAt = std::min<std::size_t>(m_config.dwStallAt, nLast);
    const std::size_t nCloseAt = chunks.size() / 2;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        if ((Faults() & FAULT_CLOSE_MID) && i == nCloseAt) {
            m_plan.push_back({SimAction::CLOSE, {}, 0});
            return;
        }
        if (m_config.dwStallMs != 0 && i == nStallAt && FaultsApply())
            m_plan.push_back({SimAction::STALL, {}, m_config.dwStallMs});
        auto [dwOffset, dwCount] = chunks[i];
        if (i == 0 && (Faults() & FAULT_TRUNCATED))
            QueueChunk(dwOffset, dwCount, i < nLast ? 0x01 : 0x00, 0, dwCount / 2);
        else if (i < nLast) {
            QueueChunk(dwOffset, dwCount, 0x01, 0);
            if (Faults() & FAULT_NOISE)
                QueueNoise(static_cast<std::uint32_t>(i));
        }
        else if ((Faults() & FAULT_SHORT_LAST) && dwCount > 0)
            QueueChunk(dwOffset, dwCount - 1, 0x00, 0);
        else if (Faults() & FAULT_LONG_CHUNK)
            QueueChunk(dwOffset, dwCount, 0x00, 1);
        else
            QueueChunk(dwOffset, dwCount, 0x00, 0);
    }
    m_plan.push_back({SimAction::SERVED, {}, 0});
}

// dwExtra bytes beyond the image's are announced and carried as well; only
// the first dwCarried of the dwCount image bytes announced are carried.
void CStationSim::QueueChunk(std::uint32_t dwOffset, std::uint32_t dwCount, std::uint8_t bFlag, std::uint32_t dwExtra,
                             std::uint32_t dwCarried)
{
    std::vector<std::uint8_t> msg = ChunkMessage(bFlag, dwCount + dwExtra);
    const auto first = m_config.image.begin() + dwOffset;
    msg.insert(msg.end(), first, first + std::min(dwCarried, dwCount));
    msg.insert(msg.end(), dwExtra, 0xA5);
    QueueMessage(msg);
}

// Everything here must leave the host's image untouched: frames its decoder
// drops (bad FCS, wrong address or control byte, bytes outside frames) and
// well-formed messages its uploader ignores. The rejected ones carry a
// plausible chunk, so a host that took one in would end with a wrong image.
void CStationSim::QueueNoise(std::uint32_t dwIndex)
{
    std::vector<std::uint8_t> bogus = ChunkMessage(0x01, 16);
    bogus.insert(bogus.end(), 16, static_cast<std::uint8_t>(0xE0 + (dwIndex & 0x0F)));
    std::vector<std::uint8_t> out = {0x00, 0x55, 0xFF, 0x7E, 0x01, 0x03};  // line garbage, no flag

    std::vector<std::uint8_t> frame = EncodeStationFrame(bogus.data(), bogus.size());
    frame[3 + 7] ^= 0x01;  // first image byte after the FCS was taken; none of the bytes before it is escaped
    out.insert(out.end(), frame.begin(), frame.end());

    for (const auto& [bAddress, bControl] :
         {std::pair<std::uint8_t, std::uint8_t>{0x80, 0x03}, {0x02, 0x03}, {0x01, 0x13}, {0x01, 0x00}}) {
        frame = EncodeStationFrame(bogus.data(), bogus.size(), bAddress, bControl);
        out.insert(out.end(), frame.begin(), frame.end());
    }

    std::vector<std::vector<std::uint8_t>> ignored = {
        {0x01, 0x05, 0x10, 0x00, 0x00, 0x00, 0x01, 0x42},        // unknown type
        {0x01, 0x7F, 0x7D, 0x00, 0x00, 0x00, 0x00},              // unknown type that needs escaping
        {0x02, 0x03, 0x01, 0x00, 0x00, 0x00, 0x02, 0x11, 0x22},  // a chunk with the wrong first byte
        // a size response during the data
        StationReplyHeader(kMsgSizeResponse, 0x00, static_cast<std::uint32_t>(m_config.image.size()) + 1000),
    };
    for (const auto& msg : ignored) {
        frame = EncodeStationFrame(msg.data(), msg.size());
        out.insert(out.end(), frame.begin(), frame.end());
    }
    m_plan.push_back({SimAction::BYTES, std::move(out), 0});
}
