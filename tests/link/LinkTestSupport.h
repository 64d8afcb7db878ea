// Shared helpers for the frame-layer tests: station frames and a
// fixture that owns a fresh pool, a receive queue and a decoder.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/Fcs.h"
#include "link/FrameBuffer.h"
#include "link/FrameCodec.h"
#include "tests/fakes/WireVectors.h"
#include "tools/station-sim/StationFrame.h"

using Bytes = std::vector<std::uint8_t>;

inline std::string Hex(const Bytes& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::uint8_t b : bytes) {
        if (!text.empty())
            text += ' ';
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return "[" + text + "]";
}

// message + FCS (complemented, low byte first) + two trailer bytes.
inline Bytes BodyOf(const Bytes& message) { return StationBody(message.data(), message.size()); }

inline Bytes StationFrame(const Bytes& body, std::uint8_t address = 0x01, std::uint8_t control = 0x03)
{
    return EncodeStationBody(body.data(), body.size(), address, control);
}

// Cases print as their message.
inline void PrintTo(const WireCase& c, std::ostream* os) { *os << Hex(c.message); }

inline Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class PooledDecoderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        BufferPoolInit();
        m_rxQueue.pLock = &m_rxLock;
    }

    // Every buffer must be back: in the pool, on the queue or held by the decoder.
    void TearDown() override
    {
        const std::uint32_t held = m_decoder.m_pRxFrame != nullptr ? 1 : 0;
        EXPECT_EQ(BufferPoolFreeCount() + m_rxQueue.nCount.load() + held, kPoolBufferCount);
        while (FrameBuffer* p = Pop(&m_rxQueue))
            BufferPoolPut(p);
        DecoderRelease(&m_decoder);
        EXPECT_EQ(BufferPoolFreeCount(), kPoolBufferCount);
        BufferPoolDestroy();
    }

    // The bytes go through an allocation of exactly their size, so that a read
    // past them is a heap overflow under AddressSanitizer.
    void Feed(const Bytes& bytes)
    {
        auto* pCopy = new std::uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)];
        std::copy(bytes.begin(), bytes.end(), pCopy);
        Decode(&m_decoder, &m_rxQueue, pCopy, bytes.size());
        delete[] pCopy;
    }

    // Pops every decoded frame, returns its stored bytes, gives the buffer back.
    std::vector<Bytes> TakeFrames()
    {
        std::vector<Bytes> frames;
        while (FrameBuffer* p = Pop(&m_rxQueue)) {
            frames.emplace_back(p->abData, p->abData + p->wLength);
            BufferPoolPut(p);
        }
        return frames;
    }

    FrameDecoder m_decoder{};
    FrameQueue m_rxQueue{};
    std::mutex m_rxLock;
};
