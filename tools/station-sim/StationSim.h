// The station's side of the retrieval protocol, without any I/O.
//
// CStationSim decodes the host's frames (address 0x80), answers the exact size
// and data requests and queues what the station would put on the line: frame
// bytes, stalls, the closing of the line and the end of a served image. The
// program around it (StationLine) reads the line, feeds OnReceive, and drains
// Next() at line rate; tests drain it directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "tools/station-sim/StationFrame.h"

// One bit per fault; several may be combined.
enum SimFault : std::uint32_t {
    FAULT_NONE = 0,
    FAULT_NO_ANSWER = 1u << 0,   // never answers anything
    FAULT_OVERSIZE = 1u << 1,    // announces at least 524289 bytes
    FAULT_SHORT_LAST = 1u << 2,  // the last chunk (flag 0) leaves the image one byte short
    FAULT_LONG_CHUNK = 1u << 3,  // the last chunk carries one byte more than is missing
    FAULT_NOISE = 1u << 4,       // frames the host must ignore, between the real ones
    FAULT_CLOSE_MID = 1u << 5,   // the line is closed halfway through the chunks
    FAULT_TRUNCATED = 1u << 6,   // the first chunk announces all its bytes but carries half of them
    FAULT_FLIP = 1u << 7,        // a noisy line: bits of the bytes sent flip at random (SimConfig::dFlipRate)
};

// Returns the fault for a --fault name, FAULT_NONE when the name is unknown.
// "flip:P" is FAULT_FLIP with *pdFlipRate = P, for 0 < P <= 1.
std::uint32_t SimFaultFromName(const std::string& name, double* pdFlipRate = nullptr);

constexpr std::uint32_t kSimMaxChunk = 1013;         // 1020 message bytes per frame
constexpr std::uint32_t kSimOversize = 0x80000 + 1;  // one byte above the host's limit

struct SimConfig {
    std::vector<std::uint8_t> image;
    std::uint32_t dwFaults = FAULT_NONE;
    std::uint32_t dwStallMs = 0;      // 0: no stall
    std::uint32_t dwStallAt = 0;      // the stall comes before this chunk (0: right after the data request)
    bool bFirstTransferOnly = false;  // faults and stall until the second size request only
    double dFlipRate = 0;             // FAULT_FLIP: the chance that a byte sent has one bit flipped
    std::uint64_t qwFlipSeed = 1;     // the same seed flips the same bits of the same bytes
};

struct SimAction {
    enum Kind { BYTES, STALL, CLOSE, SERVED };
    Kind nKind;
    std::vector<std::uint8_t> bytes;  // BYTES: one or more whole wire frames
    std::uint32_t dwMs;               // STALL: how long the line stays quiet
};

struct SimStats {
    std::uint64_t qwWireSent = 0;      // bytes handed out by Next, framing and escapes included
    std::uint64_t qwWireReceived = 0;  // bytes given to OnReceive
    std::uint32_t dwRequests = 0;      // exact requests recognised
    std::uint32_t dwIgnored = 0;       // well-formed host frames that were not requests
    std::uint32_t dwBadFrames = 0;     // host frames with a bad FCS, address, control or length
    std::uint32_t dwFlips = 0;         // bytes sent with a bit flipped (FAULT_FLIP)
};

// The deterministic image for --size/--seed (splitmix64, little-endian words).
std::vector<std::uint8_t> GenerateImage(std::uint32_t dwSize, std::uint64_t qwSeed);

class CStationSim {
public:
    explicit CStationSim(SimConfig config);

    // Feeds bytes read from the line. A size request replaces whatever was
    // still queued (a new client), a data request queues the whole transfer.
    void OnReceive(const std::uint8_t* pBytes, std::size_t count);

    // Takes the next queued action; false when nothing is queued.
    bool Next(SimAction& action);
    bool HasPending() const { return !m_plan.empty(); }

    // Counts the size requests answered; a change tells the line that a new
    // retrieval has begun.
    std::uint32_t Retrievals() const { return m_dwRetrievals; }
    // Counts the exact requests recognised, answered or not.
    std::uint32_t Requests() const { return m_dwRequests; }

    const SimStats& Stats() const { return m_stats; }
    bool FlipsBits() const { return (m_config.dwFaults & FAULT_FLIP) != 0; }
    void ResetStats() { m_stats = SimStats{}; }
    const std::vector<std::uint8_t>& Image() const { return m_config.image; }

private:
    enum { HOST_HUNT, HOST_ADDRESS, HOST_CONTROL, HOST_DATA, HOST_ESCAPE };

    void OnHostByte(std::uint8_t b);
    void OnHostFrame();
    void PlanSizeResponse();
    void PlanTransfer();
    void QueueMessage(const std::vector<std::uint8_t>& msg);
    void QueueChunk(std::uint32_t dwOffset, std::uint32_t dwCount, std::uint8_t bFlag, std::uint32_t dwExtra,
                    std::uint32_t dwCarried);
    void QueueChunk(std::uint32_t dwOffset, std::uint32_t dwCount, std::uint8_t bFlag, std::uint32_t dwExtra)
    {
        QueueChunk(dwOffset, dwCount, bFlag, dwExtra, dwCount);
    }
    void Flip(std::vector<std::uint8_t>& bytes);
    void QueueNoise(std::uint32_t dwIndex);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ChunkPlan() const;
    bool FaultsApply() const;      // faults and stall apply to the current transfer
    std::uint32_t Faults() const;  // the faults that apply to the current transfer

    SimConfig m_config;
    std::deque<SimAction> m_plan;
    SimStats m_stats;

    int m_nHostState = HOST_HUNT;
    std::vector<std::uint8_t> m_body;  // unescaped body of the host frame being received
    bool m_bBodyOverflow = false;
    std::uint32_t m_dwRetrievals = 0;
    std::uint32_t m_dwRequests = 0;
    std::uint32_t m_dwSizeRequests = 0;  // answered or not
    std::uint64_t m_qwFlipState;         // splitmix64, from qwFlipSeed
};
