#include <cstring>
#include <mutex>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "link/Fcs.h"
#include "link/FrameBuffer.h"
#include "link/FrameCodec.h"

namespace {

std::vector<std::uint8_t> RandomBytes(std::size_t n)
{
    std::mt19937 rng(7);
    std::vector<std::uint8_t> bytes(n);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(rng());
    return bytes;
}

void BM_FcsCompute1KiB(benchmark::State& state)
{
    const auto bytes = RandomBytes(1024);
    for (auto _ : state)
        benchmark::DoNotOptimize(FcsCompute(bytes.data(), bytes.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 1024);
}
BENCHMARK(BM_FcsCompute1KiB);

// The byte-at-a-time FcsUpdate loop, for comparison with FcsCompute.
void BM_FcsUpdateBytewise1KiB(benchmark::State& state)
{
    const auto bytes = RandomBytes(1024);
    for (auto _ : state) {
        std::uint16_t fcs = kFcsInit;
        for (std::uint8_t b : bytes)
            fcs = FcsUpdate(fcs, b);
        benchmark::DoNotOptimize(fcs);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 1024);
}
BENCHMARK(BM_FcsUpdateBytewise1KiB);

void BM_EncodeLongestMessage(benchmark::State& state)
{
    const auto message = RandomBytes(kMaxMessage);
    FrameBuffer buffer{};
    std::uint8_t out[kMaxEncodedFrame];
    for (auto _ : state) {
        std::memcpy(buffer.abData, message.data(), message.size());
        buffer.wLength = kMaxMessage;
        benchmark::DoNotOptimize(EncodeFrame(&buffer, out));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kMaxMessage);
}
BENCHMARK(BM_EncodeLongestMessage);

// A received stream of longest frames from the station, decoded in the
// serial reader's bursts of 1024 bytes, every frame checked and returned.
void BM_DecodeLongestFrames(benchmark::State& state)
{
    BufferPoolInit();
    std::vector<std::uint8_t> stream;
    for (int n = 0; n < 64; ++n) {
        FrameBuffer buffer{};
        const auto message = RandomBytes(kMaxMessage);
        std::memcpy(buffer.abData, message.data(), message.size());
        buffer.abData[0] = static_cast<std::uint8_t>(n);
        buffer.wLength = kMaxMessage;
        std::uint8_t out[kMaxEncodedFrame];
        const std::uint16_t count = EncodeFrame(&buffer, out);
        out[1] = kAddressReceived;
        stream.insert(stream.end(), out, out + count);
    }
    std::mutex lock;
    FrameQueue q{};
    q.pLock = &lock;
    FrameDecoder decoder{};
    std::int64_t frames = 0;
    for (auto _ : state) {
        for (std::size_t at = 0; at < stream.size(); at += 1024) {
            Decode(&decoder, &q, stream.data() + at, std::min<std::size_t>(1024, stream.size() - at));
            while (FrameBuffer* p = Pop(&q)) {
                ++frames;
                BufferPoolPut(p);
            }
        }
    }
    if (frames != static_cast<std::int64_t>(state.iterations()) * 64)
        state.SkipWithError("frames lost");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
    DecoderRelease(&decoder);
    BufferPoolDestroy();
}
BENCHMARK(BM_DecodeLongestFrames);

}  // namespace
