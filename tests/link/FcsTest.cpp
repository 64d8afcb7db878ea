#include <cstring>
#include <random>

#include "tests/link/LinkTestSupport.h"

namespace {

// Bit-at-a-time FCS-16, written from the polynomial alone, so that a wrong
// table cannot be confirmed by a test derived from the same table.
std::uint16_t BitwiseFcs(std::uint16_t fcs, std::uint8_t byte)
{
    fcs ^= byte;
    for (int bit = 0; bit < 8; ++bit)
        fcs = (fcs & 1) ? static_cast<std::uint16_t>((fcs >> 1) ^ 0x8408) : static_cast<std::uint16_t>(fcs >> 1);
    return fcs;
}

FrameBuffer BufferWith(const Bytes& bytes)
{
    FrameBuffer b{};
    std::copy(bytes.begin(), bytes.end(), b.abData);
    b.wLength = static_cast<std::uint16_t>(bytes.size());
    return b;
}

}  // namespace

static_assert(kFcsTable[0] == 0x0000 && kFcsTable[1] == 0x1189 && kFcsTable[2] == 0x2312 && kFcsTable[3] == 0x329B &&
              kFcsTable[255] == 0x0F78);

TEST(Fcs, TableMatchesBitwiseReferenceForEveryStateAndByte)
{
    // Entry i is the bitwise step of byte i from state 0; every FcsUpdate must
    // agree with the reference for arbitrary running values too.
    for (unsigned i = 0; i < 256; ++i)
        ASSERT_EQ(kFcsTable[i], BitwiseFcs(0, static_cast<std::uint8_t>(i))) << i;
    std::mt19937 rng(1662);
    for (int n = 0; n < 100000; ++n) {
        const auto fcs = static_cast<std::uint16_t>(rng());
        const auto byte = static_cast<std::uint8_t>(rng());
        ASSERT_EQ(FcsUpdate(fcs, byte), BitwiseFcs(fcs, byte));
    }
}

TEST(Fcs, ComputeMatchesBitwiseReferenceAtRandomLengthsAndOffsets)
{
    // FcsCompute takes several bytes per step; every length modulo the step
    // and every alignment must agree with the byte-wise reference.
    std::mt19937 rng(1021);
    Bytes data(1100);
    for (auto& byte : data)
        byte = static_cast<std::uint8_t>(rng());
    for (int n = 0; n < 3000; ++n) {
        const std::size_t offset = rng() % 16;
        const std::size_t length = n < 64 ? static_cast<std::size_t>(n) : rng() % 1025;
        Bytes slice(data.begin() + static_cast<std::ptrdiff_t>(offset),
                    data.begin() + static_cast<std::ptrdiff_t>(offset + length));
        std::uint16_t expected = 0xFFFF;
        for (std::uint8_t byte : slice)
            expected = BitwiseFcs(expected, byte);
        ASSERT_EQ(FcsCompute(slice.data(), slice.size()), expected) << "offset " << offset << " length " << length;
    }
}

TEST(Fcs, KnownCheckValue)
{
    // CRC-16/X-25 of "123456789" is 0x906E, i.e. ~FcsCompute.
    const char* text = "123456789";
    EXPECT_EQ(static_cast<std::uint16_t>(~FcsCompute(reinterpret_cast<const std::uint8_t*>(text), 9)), 0x906E);
    EXPECT_EQ(FcsCompute(nullptr, 0), 0xFFFF);
}

class FcsAppendVectors : public ::testing::TestWithParam<WireCase> {};

TEST_P(FcsAppendVectors, AppendsFcsLowByteFirstAndTrailer)
{
    FrameBuffer b = BufferWith(GetParam().message);
    b.bOverflow = 1;
    FcsAppend(&b);
    EXPECT_EQ(Bytes(b.abData, b.abData + b.wLength), GetParam().body);
    EXPECT_EQ(b.bOverflow, 0);
    EXPECT_TRUE(FcsCheck(&b));
}

INSTANTIATE_TEST_SUITE_P(WireVectors, FcsAppendVectors, ::testing::ValuesIn(kHostWireCases));

TEST(Fcs, AppendRefusesMessagesWithoutRoomAndLeavesThemAlone)
{
    for (std::uint16_t length : {1019, 1020, 1023, 1024}) {
        FrameBuffer b{};
        std::memset(b.abData, 0xA5, sizeof b.abData);
        b.wLength = length;
        FcsAppend(&b);
        if (length == 1019) {
            EXPECT_EQ(b.wLength, 1023);
            EXPECT_EQ(b.bOverflow, 0);
            EXPECT_TRUE(FcsCheck(&b));
        }
        else {
            EXPECT_EQ(b.wLength, length);
            EXPECT_EQ(b.bOverflow, 1);
            for (std::uint8_t byte : b.abData)
                ASSERT_EQ(byte, 0xA5);
        }
    }
}

TEST(Fcs, CheckRejectsEveryBitFlipButIgnoresTrailer)
{
    std::mt19937 rng(42);
    for (std::size_t length : {0u, 1u, 2u, 3u, 17u, 256u, 1019u}) {
        Bytes message(length);
        for (auto& byte : message)
            byte = static_cast<std::uint8_t>(rng());
        FrameBuffer b = BufferWith(message);
        FcsAppend(&b);
        ASSERT_TRUE(FcsCheck(&b));
        for (std::size_t i = 0; i + 2 < b.wLength; ++i) {
            for (int bit = 0; bit < 8; ++bit) {
                b.abData[i] ^= static_cast<std::uint8_t>(1u << bit);
                ASSERT_FALSE(FcsCheck(&b)) << "length " << length << " byte " << i << " bit " << bit;
                b.abData[i] ^= static_cast<std::uint8_t>(1u << bit);
            }
        }
        b.abData[b.wLength - 2] = 0xFF;
        b.abData[b.wLength - 1] = 0x5A;
        EXPECT_TRUE(FcsCheck(&b));
    }
}

TEST(Fcs, CheckFailsShortAndImpossibleLengths)
{
    FrameBuffer b{};
    for (std::uint16_t length : {0, 1, 2, 1025, 0xFFFF}) {
        b.wLength = length;
        EXPECT_FALSE(FcsCheck(&b)) << length;
    }
    // No body shorter than FCS + trailer can pass: no single byte has the residue.
    b.wLength = 3;
    for (unsigned byte = 0; byte < 256; ++byte) {
        b.abData[0] = static_cast<std::uint8_t>(byte);
        ASSERT_FALSE(FcsCheck(&b)) << byte;
    }
}
