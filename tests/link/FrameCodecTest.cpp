#include <cstring>
#include <random>

#include "tests/link/LinkTestSupport.h"

namespace {

class EncodeVectors : public ::testing::TestWithParam<WireCase> {};

TEST_P(EncodeVectors, WritesKnownWireBytes)
{
    FrameBuffer b{};
    std::copy(GetParam().message.begin(), GetParam().message.end(), b.abData);
    b.wLength = static_cast<std::uint16_t>(GetParam().message.size());
    std::uint8_t out[kMaxEncodedFrame];
    const std::uint16_t n = EncodeFrame(&b, out);
    EXPECT_EQ(Bytes(out, out + n), GetParam().wire);
    EXPECT_EQ(b.wLength, GetParam().message.size() + 4);
}

INSTANTIATE_TEST_SUITE_P(Wire, EncodeVectors, ::testing::ValuesIn(kHostWireCases));

TEST(Encode, WorstCaseFillsTheWholeArea)
{
    // 1019 escaped bytes whose FCS bytes escape too would need 3 + 2*1023 + 1.
    FrameBuffer b{};
    std::memset(b.abData, 0x7D, 1019);
    b.wLength = 1019;
    std::uint8_t out[kMaxEncodedFrame];
    const std::uint16_t n = EncodeFrame(&b, out);
    EXPECT_GE(n, 3 + 2 * 1019 + 4 + 1);
    EXPECT_LE(n, kMaxEncodedFrame);
    EXPECT_EQ(out[n - 1], 0x7F);
}

TEST(Encode, MessageTooLongForAnFcsIsNotSent)
{
    for (std::uint16_t length : {1020, 1024, 2000}) {
        FrameBuffer b{};
        b.wLength = length;
        std::uint8_t out[kMaxEncodedFrame];
        std::memset(out, 0xEE, sizeof out);
        EXPECT_EQ(EncodeFrame(&b, out), 0) << length;
        EXPECT_EQ(b.bOverflow, 1);
        for (std::uint8_t byte : out)
            ASSERT_EQ(byte, 0xEE);
    }
}

using Decoder = PooledDecoderTest;

const Bytes kExampleWire{0x7F, 0x01, 0x03, 0x01, 0x03, 0x7D, 0x5F, 0x7D, 0x5D, 0x05, 0xF0, 0x3C, 0x00, 0x00, 0x7F};
const Bytes kExampleBody{0x01, 0x03, 0x7F, 0x7D, 0x05, 0xF0, 0x3C, 0x00, 0x00};

TEST_F(Decoder, ExampleFrameSplitAtAnyTwoPoints)
{
    for (std::size_t i = 0; i <= kExampleWire.size(); ++i) {
        for (std::size_t j = i; j <= kExampleWire.size(); ++j) {
            Feed(Bytes(kExampleWire.begin(), kExampleWire.begin() + i));
            Feed(Bytes(kExampleWire.begin() + i, kExampleWire.begin() + j));
            Feed(Bytes(kExampleWire.begin() + j, kExampleWire.end()));
            const auto frames = TakeFrames();
            ASSERT_EQ(frames.size(), 1u) << i << "," << j;
            ASSERT_EQ(frames[0], kExampleBody) << i << "," << j;
        }
    }
}

TEST_F(Decoder, ByteAtATime)
{
    for (std::uint8_t b : kExampleWire)
        Feed(Bytes{b});
    EXPECT_EQ(TakeFrames(), std::vector<Bytes>{kExampleBody});
}

// Frames thrown away: failed their check, overlong, unwanted.
using Dropped = std::vector<std::uint32_t>;

Dropped DroppedBy(const FrameDecoder& d)
{
    return Dropped(std::begin(d.m_dropped.adwCount), std::end(d.m_dropped.adwCount));
}

struct StreamCase {
    const char* name;
    Bytes stream;
    std::vector<Bytes> bodies;
    Dropped dropped;  // frames the decoder counts as thrown away, by reason
};

const Bytes kA = BodyOf({0x01, 0x00, 0x00, 0x00, 0x10, 0x00});
const Bytes kB = BodyOf({0x01, 0x03, 0x00, 0x7F, 0x7D, 0x20});

Bytes Unclosed(const Bytes& frame) { return Bytes(frame.begin(), frame.end() - 1); }

Bytes WithoutOpeningFlag(const Bytes& frame) { return Bytes(frame.begin() + 1, frame.end()); }

// 7D 7D on the wire: the second escape byte is stored XOR 0x20 like any other.
Bytes DoubleEscapeFrame()
{
    const Bytes frame = StationFrame(BodyOf({0x5D, 0x11}));
    return Bytes{0x7F, 0x01, 0x03, 0x7D, 0x7D} + Bytes(frame.begin() + 4, frame.end());
}

Bytes Corrupt(Bytes body)
{
    body[0] ^= 0x40;
    return body;
}

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

class DecoderStreams : public PooledDecoderTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(DecoderStreams, YieldsExactlyTheGoodFramesAndCountsTheDropped)
{
    Feed(GetParam().stream);
    EXPECT_EQ(TakeFrames(), GetParam().bodies);
    EXPECT_EQ(DroppedBy(m_decoder), GetParam().dropped);
    EXPECT_EQ(m_decoder.m_dropped.Total(), GetParam().dropped[0] + GetParam().dropped[1] + GetParam().dropped[2]);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecoderStreams,
    ::testing::Values(
        StreamCase{"TwoFramesInOneCall", StationFrame(kA) + StationFrame(kB), {kA, kB}, Dropped{0, 0, 0}},
        StreamCase{"SharedFlagLosesTheSecond", Unclosed(StationFrame(kA)) + StationFrame(kB), {kA}, Dropped{0, 0, 0}},
        StreamCase{"ExtraFlagsBeforeAddress", Bytes{0x7F, 0x7F, 0x7F} + StationFrame(kA), {kA}, Dropped{0, 0, 0}},
        StreamCase{"NoiseBeforeFrame", Bytes{0x00, 0x01, 0x03, 0x7D, 0x55} + StationFrame(kA), {kA}, Dropped{0, 0, 0}},
        StreamCase{"SentAddressRejected", StationFrame(kA, 0x80) + StationFrame(kB), {kB}, Dropped{0, 0, 1}},
        StreamCase{"OtherControlRejected", StationFrame(kA, 0x01, 0x13) + StationFrame(kB), {kB}, Dropped{0, 0, 1}},
        // Only a frame that passes its check is another's; a damaged one is
        // noise whatever its header says.
        StreamCase{"SentAddressWithBadFcs", StationFrame(Corrupt(kA), 0x80) + StationFrame(kB), {kB}, Dropped{1, 0, 0}},
        StreamCase{
            "OtherControlWithBadFcs", StationFrame(Corrupt(kA), 0x01, 0x13) + StationFrame(kB), {kB}, Dropped{1, 0, 0}},
        StreamCase{"OtherAddressOverlong",
                   Bytes{0x7F, 0x02, 0x03} + Bytes(kFrameDataSize + 1, 0x11) + StationFrame(kB),
                   {kB},
                   Dropped{0, 1, 0}},
        StreamCase{
            "OtherAddressAborted", Bytes{0x7F, 0x02, 0x03, 0x11, 0x7D} + StationFrame(kA), {kA}, Dropped{1, 0, 0}},
        StreamCase{"FlagAfterControlReopens",
                   Bytes{0x7F, 0x01, 0x7F} + WithoutOpeningFlag(StationFrame(kA)),
                   {kA},
                   Dropped{1, 0, 0}},
        StreamCase{"BadFcsThenGood", StationFrame(Corrupt(kA)) + StationFrame(kB), {kB}, Dropped{1, 0, 0}},
        StreamCase{"EmptyBody", Bytes{0x7F, 0x01, 0x03, 0x7F}, {}, Dropped{1, 0, 0}},
        StreamCase{"OneByteBody", StationFrame({0x00}), {}, Dropped{1, 0, 0}},
        StreamCase{"EscapedEscapeStoredXored", DoubleEscapeFrame(), {BodyOf({0x5D, 0x11})}, Dropped{0, 0, 0}},
        StreamCase{"EmptyMessage", StationFrame(BodyOf({})), {BodyOf({})}, Dropped{0, 0, 0}},
        // 7D 7F aborts the frame; the flag opens the next one, which must survive.
        StreamCase{"AbortThenFrameOnSameFlag",
                   Bytes{0x7F, 0x01, 0x03, 0x11, 0x22, 0x7D} + StationFrame(kA),
                   {kA},
                   Dropped{1, 0, 0}},
        StreamCase{"AbortThenFrameWithOwnFlag",
                   Bytes{0x7F, 0x01, 0x03, 0x11, 0x7D, 0x7F} + StationFrame(kA),
                   {kA},
                   Dropped{1, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Decoder, BadFrameIsRefilledInTheSameBuffer)
{
    Feed(StationFrame(Corrupt(kA)));
    FrameBuffer* held = m_decoder.m_pRxFrame;
    ASSERT_NE(held, nullptr);
    Feed(StationFrame(kB));
    FrameBuffer* p = Pop(&m_rxQueue);
    EXPECT_EQ(p, held);
    BufferPoolPut(p);
}

TEST_F(Decoder, LongestBodyDeliveredOneMoreDroppedAndNextDecoded)
{
    Bytes longest(1020, 0x55);
    longest[0] = 0x7F;
    const Bytes body1024 = BodyOf(longest);
    ASSERT_EQ(body1024.size(), 1024u);
    Bytes body1025 = BodyOf(Bytes(1021, 0x7D));
    Feed(StationFrame(body1024) + StationFrame(body1025) + StationFrame(kA));
    const auto frames = TakeFrames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], body1024);
    EXPECT_EQ(frames[1], kA);
    EXPECT_EQ(DroppedBy(m_decoder), (Dropped{0, 1, 0}));
}

TEST_F(Decoder, BodyIsDroppedAtExactlyItsByte1025)
{
    Feed(Bytes{0x7F, 0x01, 0x03} + Bytes(1024, 0xAA));
    EXPECT_EQ(m_decoder.m_nRxState, DECODE_DATA);
    ASSERT_NE(m_decoder.m_pRxFrame, nullptr);
    EXPECT_EQ(m_decoder.m_pRxFrame->wLength, 1024);
    EXPECT_EQ(m_decoder.m_pRxWrite, m_decoder.m_pRxFrame->abData + 1024);
    Feed(Bytes{0x7D, 0x0A});
    EXPECT_EQ(m_decoder.m_nRxState, DECODE_HUNT);
    EXPECT_GT(m_decoder.m_pRxFrame->wLength, 1024);
    EXPECT_EQ(m_decoder.m_pRxWrite, m_decoder.m_pRxFrame->abData + 1024);
}

TEST_F(Decoder, OverlongBodyIsDroppedEvenIfItsTailLooksGood)
{
    // 1000 filler bytes, then a complete good body: only the first 1024 count.
    Feed(StationFrame(Bytes(1020, 0x42) + kA) + StationFrame(Bytes(2000, 0x7F)) + StationFrame(kB));
    EXPECT_EQ(TakeFrames(), std::vector<Bytes>{kB});
    EXPECT_EQ(DroppedBy(m_decoder), (Dropped{0, 2, 0}));
}

TEST_F(Decoder, EmptyPoolIgnoresFlagsUntilABufferComesBack)
{
    std::vector<FrameBuffer*> taken;
    while (FrameBuffer* p = BufferPoolGet())
        taken.push_back(p);
    Feed(StationFrame(kA));
    EXPECT_TRUE(TakeFrames().empty());
    EXPECT_EQ(m_decoder.m_pRxFrame, nullptr);
    // One buffer back: kA takes it, so the opening flag of kB finds the pool
    // empty again and kB is lost.
    BufferPoolPut(taken.back());
    taken.pop_back();
    Feed(StationFrame(kA) + StationFrame(kB));
    EXPECT_EQ(m_rxQueue.nCount.load(), 1);
    EXPECT_EQ(TakeFrames(), std::vector<Bytes>{kA});
    for (FrameBuffer* p : taken)
        BufferPoolPut(p);
    Feed(StationFrame(kB));
    EXPECT_EQ(TakeFrames(), std::vector<Bytes>{kB});
}

TEST_F(Decoder, RandomMessagesRoundTripThroughTheEncoderInRandomSplits)
{
    std::mt19937 rng(20240611);
    std::vector<Bytes> bodies;
    Bytes stream;
    for (int n = 0; n < 300; ++n) {
        const std::size_t length = n == 0 ? 0 : n == 1 ? kMaxMessage : rng() % (kMaxMessage + 1);
        FrameBuffer b{};
        for (std::size_t i = 0; i < length; ++i)
            b.abData[i] =
                (rng() % 4 == 0) ? static_cast<std::uint8_t>(0x7D + 2 * (rng() % 2)) : static_cast<std::uint8_t>(rng());
        b.wLength = static_cast<std::uint16_t>(length);
        std::uint8_t out[kMaxEncodedFrame];
        const std::uint16_t count = EncodeFrame(&b, out);
        ASSERT_GT(count, 0);
        out[1] = 0x01;  // the station's address, so that the decoder accepts it
        stream.insert(stream.end(), out, out + count);
        bodies.emplace_back(b.abData, b.abData + b.wLength);
    }
    for (std::size_t at = 0; at < stream.size();) {
        const std::size_t chunk = std::min<std::size_t>(1 + rng() % 1024, stream.size() - at);
        Feed(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(at),
                   stream.begin() + static_cast<std::ptrdiff_t>(at + chunk)));
        at += chunk;
    }
    EXPECT_EQ(TakeFrames(), bodies);
}

}  // namespace
