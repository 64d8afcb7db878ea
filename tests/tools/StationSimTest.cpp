// The simulator's output, decoded by the product's own frame decoder and read
// with the uploader's rules, for each fault mode; and which host frames it
// answers.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "link/FrameBuffer.h"
#include "link/FrameCodec.h"
#include "retrieval/RetrievalMessage.h"
#include "tests/fakes/WireVectors.h"
#include "tools/station-sim/StationSim.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// What the simulator put on the line in answer to some host bytes.
struct Reply {
    Bytes wire;                   // all BYTES actions, in order
    std::vector<Bytes> messages;  // the frames the product decoder accepts, without FCS and trailer
    std::vector<SimAction::Kind> kinds;
    std::vector<std::size_t> stallBeforeMessage;  // index into messages of the message after each stall
    std::uint32_t dwStallMs = 0;
};

class StationSimTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        BufferPoolInit();
        m_queue.pLock = &m_lock;
    }
    void TearDown() override
    {
        while (FrameBuffer* p = Pop(&m_queue))
            BufferPoolPut(p);
        DecoderRelease(&m_decoder);
        BufferPoolDestroy();
    }

    Reply Exchange(CStationSim& sim, const Bytes& host)
    {
        sim.OnReceive(host.data(), host.size());
        Reply reply;
        SimAction action;
        while (sim.Next(action)) {
            reply.kinds.push_back(action.nKind);
            if (action.nKind == SimAction::STALL) {
                reply.stallBeforeMessage.push_back(reply.messages.size());
                reply.dwStallMs = action.dwMs;
            }
            if (action.nKind != SimAction::BYTES)
                continue;
            reply.wire.insert(reply.wire.end(), action.bytes.begin(), action.bytes.end());
            Decode(&m_decoder, &m_queue, action.bytes.data(), action.bytes.size());
            while (FrameBuffer* p = Pop(&m_queue)) {
                EXPECT_GE(p->wLength, 4u);
                reply.messages.emplace_back(p->abData, p->abData + p->wLength - 4);
                BufferPoolPut(p);
            }
        }
        return reply;
    }

    std::mutex m_lock;
    FrameQueue m_queue{};
    FrameDecoder m_decoder{};
};

// The host's reading of the replies: the first size response, then chunks
// in order, as the uploader takes them.
struct Outcome {
    bool bSizeSeen = false;
    std::uint32_t dwTotal = 0;
    Bytes image;
    bool bLastSeen = false;
    bool bLongChunk = false;
    bool bShortLast = false;
    bool bTruncated = false;   // a chunk announced more than its frame carried
    std::size_t nIgnored = 0;  // well-formed messages the uploader would drop
};

Outcome ReadAsHost(const Reply& size, const Reply& data)
{
    Outcome out;
    for (const Bytes& m : size.messages) {
        if (!out.bSizeSeen && m.size() >= 7 && m[0] == 0x01 && m[1] == 0x01) {
            out.bSizeSeen = true;
            out.dwTotal = ReadMsgNumber(m.data());
        }
        else
            ++out.nIgnored;
    }
    for (const Bytes& m : data.messages) {
        if (out.bLastSeen || m.size() < 7 || m[0] != 0x01 || m[1] != 0x03) {
            ++out.nIgnored;
            continue;
        }
        const std::uint32_t n = ReadMsgNumber(m.data());
        if (m.size() < 7u + n) {
            out.bTruncated = true;
            return out;
        }
        EXPECT_EQ(m.size(), 7u + n) << "a chunk carries no more than the bytes it announces";
        if (n > out.dwTotal - out.image.size()) {
            out.bLongChunk = true;
            return out;
        }
        out.image.insert(out.image.end(), m.begin() + 7, m.end());
        if (m[2] == 0) {
            out.bLastSeen = true;
            out.bShortLast = out.image.size() != out.dwTotal;
        }
    }
    return out;
}

struct FaultCase {
    const char* pszName;
    std::uint32_t dwSize;
    std::uint32_t dwFaults;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.pszName; }

class StationSimFaultTest : public StationSimTest, public ::testing::WithParamInterface<FaultCase> {};

// Image sizes at the chunk boundaries: empty, one short chunk, exactly one
// full chunk, one byte over, and a many-chunk image with escapes in it.
const FaultCase kFaultCases[] = {
    {"plain_0", 0, FAULT_NONE},
    {"plain_1", 1, FAULT_NONE},
    {"plain_1013", 1013, FAULT_NONE},
    {"plain_1014", 1014, FAULT_NONE},
    {"plain_64k", 65536, FAULT_NONE},
    {"noise_1", 1, FAULT_NOISE},
    {"noise_5000", 5000, FAULT_NOISE},
    {"oversize", 3000, FAULT_OVERSIZE},
    {"short_last_1", 1, FAULT_SHORT_LAST},
    {"short_last_3000", 3000, FAULT_SHORT_LAST},
    {"long_chunk_0", 0, FAULT_LONG_CHUNK},
    {"long_chunk_2026", 2026, FAULT_LONG_CHUNK},  // last chunk full: split so the longer one fits a frame
    {"long_chunk_3000", 3000, FAULT_LONG_CHUNK},
    {"close_mid", 5000, FAULT_CLOSE_MID},
    {"no_answer", 3000, FAULT_NO_ANSWER},
    {"truncated_1", 1, FAULT_TRUNCATED},
    {"truncated_3000", 3000, FAULT_TRUNCATED},
};

TEST_P(StationSimFaultTest, RepliesDecodeToTheFaultsMessages)
{
    const FaultCase& c = GetParam();
    SimConfig config;
    config.image = GenerateImage(c.dwSize, 7);
    config.dwFaults = c.dwFaults;
    CStationSim sim(config);

    const Reply size = Exchange(sim, kSizeRequestWire);
    const Reply data = Exchange(sim, kDataRequestWire);
    const Outcome out = ReadAsHost(size, data);
    const bool bServed = !data.kinds.empty() && data.kinds.back() == SimAction::SERVED;

    if (c.dwFaults == FAULT_NO_ANSWER) {
        EXPECT_TRUE(size.kinds.empty());
        EXPECT_TRUE(data.kinds.empty());
        EXPECT_EQ(sim.Stats().dwRequests, 2u) << "the requests are still recognised";
        return;
    }
    ASSERT_TRUE(out.bSizeSeen);
    if (c.dwFaults == FAULT_OVERSIZE) {
        EXPECT_EQ(out.dwTotal, 524289u);
        return;
    }
    EXPECT_EQ(out.dwTotal, c.dwSize);
    for (const Bytes& m : data.messages)
        EXPECT_LE(m.size(), 1020u);

    switch (c.dwFaults) {
    case FAULT_NONE:
    case FAULT_NOISE:
        EXPECT_TRUE(out.bLastSeen);
        EXPECT_FALSE(out.bShortLast);
        EXPECT_EQ(out.image, config.image);
        EXPECT_TRUE(bServed);
        if (c.dwFaults == FAULT_NOISE) {
            EXPECT_GE(out.nIgnored, 1u) << "noise carries messages the uploader must ignore";
            EXPECT_GT(data.wire.size() + size.wire.size(), c.dwSize + 16u * (c.dwSize / 1013 + 1));
        }
        else {
            EXPECT_EQ(out.nIgnored, 0u);
            EXPECT_EQ(data.messages.size(), c.dwSize / 1013 + (c.dwSize % 1013 != 0 || c.dwSize == 0));
        }
        break;
    case FAULT_SHORT_LAST:
        EXPECT_TRUE(out.bShortLast);
        EXPECT_EQ(out.image.size() + 1, c.dwSize);
        break;
    case FAULT_LONG_CHUNK:
        EXPECT_TRUE(out.bLongChunk) << "the long chunk must get past the decoder to the uploader";
        break;
    case FAULT_TRUNCATED:
        EXPECT_TRUE(out.bTruncated) << "the first chunk carries half of what it announces";
        EXPECT_TRUE(out.image.empty());
        break;
    case FAULT_CLOSE_MID:
        ASSERT_FALSE(data.kinds.empty());
        EXPECT_EQ(data.kinds.back(), SimAction::CLOSE);
        EXPECT_FALSE(out.bLastSeen);
        EXPECT_EQ(out.image.size(), 2u * 1013u) << "half of five chunks, rounded down";
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, StationSimFaultTest, ::testing::ValuesIn(kFaultCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

// A noisy line: each byte sent has one bit flipped with the chance given,
// from a stream the seed fixes. The product's decoder throws away every frame
// hit, and takes every other one.
TEST_F(StationSimTest, FlipFaultFlipsOneBitOfSomeBytesAsTheSeedSays)
{
    const auto Run = [this](std::uint32_t dwFaults, std::uint64_t qwSeed, SimStats* pStats) {
        SimConfig config;
        config.image = GenerateImage(65536, 1);
        config.dwFaults = dwFaults;
        config.dFlipRate = 1e-3;
        config.qwFlipSeed = qwSeed;
        CStationSim sim(config);
        Reply size = Exchange(sim, kSizeRequestWire);
        const Reply data = Exchange(sim, kDataRequestWire);
        *pStats = sim.Stats();
        size.wire.insert(size.wire.end(), data.wire.begin(), data.wire.end());
        size.messages.insert(size.messages.end(), data.messages.begin(), data.messages.end());
        return size;
    };
    SimStats clean{}, noisy{}, again{}, other{};
    const Reply plain = Run(FAULT_NONE, 5, &clean);
    const std::uint32_t dwDropped = m_decoder.m_dropped.Total();
    const Reply flipped = Run(FAULT_FLIP, 5, &noisy);
    EXPECT_EQ(Run(FAULT_FLIP, 5, &again).wire, flipped.wire) << "the same seed flips the same bits";
    EXPECT_NE(Run(FAULT_FLIP, 6, &other).wire, flipped.wire);
    ASSERT_EQ(plain.wire.size(), flipped.wire.size());
    std::uint32_t dwBytesHit = 0;
    for (std::size_t i = 0; i < plain.wire.size(); ++i) {
        const unsigned nDiff = plain.wire[i] ^ flipped.wire[i];
        EXPECT_TRUE(nDiff == 0 || (nDiff & (nDiff - 1)) == 0) << "one bit at " << i;
        dwBytesHit += nDiff != 0;
    }
    EXPECT_EQ(clean.dwFlips, 0u);
    EXPECT_EQ(noisy.dwFlips, dwBytesHit);
    const double dExpected = 1e-3 * static_cast<double>(plain.wire.size());
    EXPECT_GT(dwBytesHit, dExpected / 2);
    EXPECT_LT(dwBytesHit, dExpected * 2);
    EXPECT_LT(flipped.messages.size(), plain.messages.size());
    EXPECT_EQ(dwDropped, 0u);
    EXPECT_GT(m_decoder.m_dropped.Total(), 0u);
}

TEST(StationFaultNameTest, FlipTakesAProbability)
{
    struct {
        const char* pszName;
        std::uint32_t dwFault;
        double dRate;
    } const cases[] = {
        {"flip:1e-4", FAULT_FLIP, 1e-4}, {"flip:1", FAULT_FLIP, 1},    {"flip:0.5", FAULT_FLIP, 0.5},
        {"flip:0", FAULT_NONE, -1},      {"flip:1.5", FAULT_NONE, -1}, {"flip:", FAULT_NONE, -1},
        {"flip:1e-4x", FAULT_NONE, -1},  {"flip", FAULT_NONE, -1},     {"truncated", FAULT_TRUNCATED, -1},
    };
    for (const auto& c : cases) {
        double dRate = -1;
        EXPECT_EQ(SimFaultFromName(c.pszName, &dRate), c.dwFault) << c.pszName;
        EXPECT_EQ(dRate, c.dRate) << c.pszName;
    }
}

TEST_F(StationSimTest, StallComesBeforeTheChunkAskedFor)
{
    struct {
        std::uint32_t dwAt;
        std::size_t nBeforeMessage;
    } const cases[] = {{0, 0}, {2, 2}, {99, 4}};  // beyond the last chunk: before the last one
    for (const auto& c : cases) {
        SimConfig config;
        config.image = GenerateImage(5000, 1);
        config.dwStallMs = 12000;
        config.dwStallAt = c.dwAt;
        CStationSim sim(config);
        Exchange(sim, kSizeRequestWire);
        const Reply data = Exchange(sim, kDataRequestWire);
        ASSERT_EQ(data.stallBeforeMessage.size(), 1u) << c.dwAt;
        EXPECT_EQ(data.stallBeforeMessage[0], c.nBeforeMessage) << c.dwAt;
        EXPECT_EQ(data.dwStallMs, 12000u);
    }
}

// With the faults for the first transfer only, a second size request meets a
// healthy station; without, every transfer has them.
TEST_F(StationSimTest, FirstTransferOnlyFaultsEndAtTheSecondSizeRequest)
{
    for (const bool bFirstOnly : {true, false}) {
        SimConfig config;
        config.image = GenerateImage(3000, 1);
        config.dwFaults = FAULT_OVERSIZE | FAULT_SHORT_LAST;
        config.dwStallMs = 500;
        config.bFirstTransferOnly = bFirstOnly;
        CStationSim sim(config);
        std::vector<Outcome> outcomes;
        for (int i = 0; i < 3; ++i) {
            const Reply size = Exchange(sim, kSizeRequestWire);
            const Reply data = Exchange(sim, kDataRequestWire);
            outcomes.push_back(ReadAsHost(size, data));
            EXPECT_EQ(data.stallBeforeMessage.size(), bFirstOnly && i > 0 ? 0u : 1u) << i;
        }
        for (std::size_t i = 0; i < outcomes.size(); ++i) {
            const bool bFaulty = !bFirstOnly || i == 0;
            EXPECT_EQ(outcomes[i].dwTotal, bFaulty ? kSimOversize : 3000u) << bFirstOnly << i;
            EXPECT_EQ(outcomes[i].bShortLast, bFaulty) << bFirstOnly << i;
        }
        EXPECT_TRUE(outcomes.back().image == sim.Image() || !bFirstOnly);
    }
}

// Known wire bytes, not a round trip: the decoding example's frame.
TEST(StationFrameTest, EncodesEscapesAndFcsAsOnTheWire)
{
    const Bytes msg = {0x01, 0x03, 0x7F, 0x7D, 0x05};
    const Bytes expected = {0x7F, 0x01, 0x03, 0x01, 0x03, 0x7D, 0x5F, 0x7D, 0x5D, 0x05, 0xF0, 0x3C, 0x00, 0x00, 0x7F};
    EXPECT_EQ(EncodeStationFrame(msg.data(), msg.size()), expected);
}

TEST(StationFrameTest, GeneratedImageDependsOnlyOnSizeAndSeed)
{
    EXPECT_EQ(GenerateImage(1000, 3), GenerateImage(1000, 3));
    EXPECT_NE(GenerateImage(1000, 3), GenerateImage(1000, 4));
    const Bytes longer = GenerateImage(1003, 3);
    EXPECT_EQ(Bytes(longer.begin(), longer.begin() + 1000), GenerateImage(1000, 3)) << "a prefix of a longer one";
}

TEST_F(StationSimTest, AnswersTheSizeRequestWithTheSizeOnTheWire)
{
    SimConfig config;
    config.image = GenerateImage(1024, 1);
    CStationSim sim(config);
    EXPECT_EQ(Exchange(sim, kSizeRequestWire).wire, kSizeResponse1024Wire);
}

// Only the exact requests get an answer, however the bytes arrive.
TEST_F(StationSimTest, AnswersOnlyExactRequests)
{
    struct {
        const char* pszWhat;
        Bytes host;
        bool bAnswered;
    } const cases[] = {
        {"size request", kSizeRequestWire, true},
        {"extra flags in front", {0x7F, 0x7F, 0x7F, 0x80, 0x03, 0x01, 0x00, 0x10, 0x91, 0x8C, 0x00, 0x00, 0x7F}, true},
        {"line noise in front",
         {0x00, 0x55, 0x7E, 0x7F, 0x80, 0x03, 0x01, 0x00, 0x10, 0x91, 0x8C, 0x00, 0x00, 0x7F},
         true},
        {"bad FCS", {0x7F, 0x80, 0x03, 0x01, 0x00, 0x10, 0x91, 0x8D, 0x00, 0x00, 0x7F}, false},
        {"station address", {0x7F, 0x01, 0x03, 0x01, 0x00, 0x10, 0x91, 0x8C, 0x00, 0x00, 0x7F}, false},
        {"control byte", {0x7F, 0x80, 0x13, 0x01, 0x00, 0x10, 0x91, 0x8C, 0x00, 0x00, 0x7F}, false},
        {"trailer not zero", {0x7F, 0x80, 0x03, 0x01, 0x00, 0x10, 0x91, 0x8C, 0x00, 0x01, 0x7F}, false},
        {"no trailer", {0x7F, 0x80, 0x03, 0x01, 0x00, 0x10, 0x91, 0x8C, 0x7F}, false},
        {"aborted", {0x7F, 0x80, 0x03, 0x01, 0x00, 0x10, 0x7D, 0x7F}, false},
        {"no closing flag", {0x7F, 0x80, 0x03, 0x01, 0x00, 0x10, 0x91, 0x8C, 0x00, 0x00}, false},
    };
    for (const auto& c : cases) {
        SimConfig config;
        config.image = GenerateImage(10, 1);
        CStationSim sim(config);
        const Reply reply = Exchange(sim, c.host);
        EXPECT_EQ(!reply.messages.empty(), c.bAnswered) << c.pszWhat;
    }

    // Byte by byte, and a request whose message differs in its last byte.
    SimConfig config;
    config.image = GenerateImage(10, 1);
    CStationSim sim(config);
    for (std::uint8_t b : kSizeRequestWire)
        sim.OnReceive(&b, 1);
    EXPECT_TRUE(sim.HasPending());
    Exchange(sim, {});
    const Bytes other = {0x01, 0x00, 0x11};
    Bytes frame = EncodeStationFrame(other.data(), other.size(), 0x80, 0x03);
    EXPECT_TRUE(Exchange(sim, frame).messages.empty());
    EXPECT_EQ(sim.Stats().dwIgnored, 1u);
}

// A second client's size request drops what the first one left queued.
TEST_F(StationSimTest, NewSizeRequestReplacesAnUnfinishedTransfer)
{
    SimConfig config;
    config.image = GenerateImage(5000, 1);
    CStationSim sim(config);
    sim.OnReceive(kSizeRequestWire.data(), kSizeRequestWire.size());
    sim.OnReceive(kDataRequestWire.data(), kDataRequestWire.size());
    sim.OnReceive(kSizeRequestWire.data(), kSizeRequestWire.size());
    const Reply reply = Exchange(sim, {});
    ASSERT_EQ(reply.messages.size(), 1u);
    EXPECT_EQ(reply.messages[0][1], 0x01);
    EXPECT_EQ(sim.Retrievals(), 2u);
}

}  // namespace
