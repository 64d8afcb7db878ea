// FCS-16 of RFC 1662 (CRC-16/X-25): reflected polynomial 0x8408, initial
// value 0xFFFF, sent complemented low byte first, good-frame residue 0xF0B8.
// Pure functions over the buffer they are given; safe on any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "link/FrameBuffer.h"

constexpr std::uint16_t kFcsInit = 0xFFFF;
constexpr std::uint16_t kFcsGood = 0xF0B8;
constexpr std::uint16_t kFcsPoly = 0x8408;

// Longest message that still has room for the FCS and the two trailer bytes.
constexpr std::uint16_t kMaxMessage = kFrameDataSize - 5;

constexpr std::array<std::uint16_t, 256> MakeFcsTable()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned v = i;
        for (int bit = 0; bit < 8; ++bit)
            v = (v & 1u) ? (v >> 1) ^ kFcsPoly : v >> 1;
        table[i] = static_cast<std::uint16_t>(v);
    }
    return table;
}

inline constexpr std::array<std::uint16_t, 256> kFcsTable = MakeFcsTable();

// kFcsSlices[k][i]: the running value after byte i, from state 0, followed by
// k zero bytes. With them FcsCompute takes four bytes per step, breaking the
// one-look-up-after-another chain of the byte-wise loop; still one look-up
// per byte.
constexpr std::array<std::array<std::uint16_t, 256>, 4> MakeFcsSlices()
{
    std::array<std::array<std::uint16_t, 256>, 4> slices{};
    slices[0] = MakeFcsTable();
    for (unsigned k = 1; k < 4; ++k)
        for (unsigned i = 0; i < 256; ++i) {
            const unsigned prev = slices[k - 1][i];
            slices[k][i] = static_cast<std::uint16_t>((prev >> 8) ^ slices[0][prev & 0xFFu]);
        }
    return slices;
}

inline constexpr std::array<std::array<std::uint16_t, 256>, 4> kFcsSlices = MakeFcsSlices();

// Inline so that per-byte callers pay one look-up, one shift and two XORs.
inline std::uint16_t FcsUpdate(std::uint16_t fcs, std::uint8_t byte)
{
    return static_cast<std::uint16_t>((fcs >> 8) ^ kFcsTable[(fcs ^ byte) & 0xFFu]);
}

// Runs the FCS from 0xFFFF over n bytes; the result is not complemented.
std::uint16_t FcsCompute(const std::uint8_t* p, std::size_t n);

// Appends FCS and trailer (wLength grows by 4), or sets bOverflow when the
// message is longer than kMaxMessage and leaves it otherwise unchanged.
void FcsAppend(FrameBuffer* p);

// True when the received body has a good FCS in front of its two trailer bytes.
bool FcsCheck(const FrameBuffer* p);
