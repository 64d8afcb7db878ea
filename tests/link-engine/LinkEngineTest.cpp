// CHdlcLink on the in-memory line: ordering, alternation, the closed port,
// teardown with buffers everywhere, wake-ups and the trace hook.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#ifdef __linux__
#include <sys/resource.h>
#endif

#include "link/FrameBuffer.h"
#include "link/HDLC.h"
#include "platform/AppMessageBox.h"
#include "tests/fakes/FakeLine.h"
#include "tests/fakes/RecordingMessageBox.h"
#include "tests/fakes/WireVectors.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

// Records each frame's message and how many bytes the line had seen written
// when it arrived; can hold the link's worker inside OnFrame.
class CRecordingSink : public IFrameSink {
public:
    void OnFrame(FrameBuffer* pFrame) override
    {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cond.wait(lock, [&] { return !m_bHold; });
            m_frames.emplace_back(pFrame->abData, pFrame->abData + pFrame->wLength - 4);
            m_writtenAtDelivery.push_back(FakeLine::Written().size());
        }
        BufferPoolPut(pFrame);
    }
    void Hold(bool bHold)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bHold = bHold;
        }
        m_cond.notify_all();
    }
    std::size_t Count()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_frames.size();
    }
    std::vector<Bytes> Frames()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_frames;
    }
    std::vector<std::size_t> WrittenAtDelivery()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_writtenAtDelivery;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_bHold = false;
    std::vector<Bytes> m_frames;
    std::vector<std::size_t> m_writtenAtDelivery;
};

void PostRequest(CHdlcLink& link, std::uint8_t bType)
{
    FrameBuffer* p = BufferPoolGet();
    ASSERT_NE(p, nullptr);
    p->abData[0] = 0x01;
    p->abData[1] = bType;
    p->abData[2] = 0x10;
    p->wLength = 3;
    link.Send(p);
}

Bytes Concat(const std::vector<Bytes>& parts)
{
    Bytes all;
    for (const Bytes& b : parts)
        all.insert(all.end(), b.begin(), b.end());
    return all;
}

class LinkEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeLine::Reset(true);
        msgbox::Reset();
        BufferPoolInit();
    }
    void TearDown() override
    {
        EXPECT_EQ(FakeLine::Alive(), 0);
        EXPECT_EQ(BufferPoolFreeCount(), kPoolBufferCount);
        BufferPoolDestroy();
    }
    CRecordingSink m_sink;
};

TEST_F(LinkEngineTest, FramesPostedBeforeStartAreWrittenInOrder)
{
    CHdlcLink link("COM1", &m_sink);
    ASSERT_TRUE(link.IsOpen());
    EXPECT_EQ(FakeLine::LastPortName(), "COM1");
    PostRequest(link, 0x00);
    PostRequest(link, 0x02);
    PostRequest(link, 0x00);
    EXPECT_TRUE(FakeLine::Written().empty());
    link.Start();
    ASSERT_TRUE(FakeLine::WaitWritten(33));
    EXPECT_EQ(FakeLine::Written(), Concat({kSizeRequestWire, kDataRequestWire, kSizeRequestWire}));
    EXPECT_TRUE(WaitUntil([] { return BufferPoolFreeCount() == kPoolBufferCount; }));
}

// The process's threads: the workers are counted, not inferred from what
// they write.
std::size_t ThreadCount()
{
#ifdef __linux__
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        ++n;
    return n;
#else
    return 0;  // not counted here; the Linux builds check it
#endif
}

// A second Start used to replace the running worker, which then outlived the
// link and wrote through a controller that was gone: one more thread while
// the link runs, none left over once it is gone.
TEST_F(LinkEngineTest, StartingTwiceKeepsTheOneWorker)
{
    // A sanitizer's runtime starts a helper thread of its own with the
    // process's first thread: have it running before counting.
    std::thread([] {}).join();
    const std::size_t nBefore = ThreadCount();
    {
        CHdlcLink link("COM1", &m_sink);
        const std::size_t nOpen = ThreadCount();  // the reader, if the line has one
        link.Start();
        link.Start();
        EXPECT_EQ(ThreadCount(), nOpen + (nOpen != 0 ? 1 : 0));
        PostRequest(link, 0x00);
        ASSERT_TRUE(FakeLine::WaitWritten(11));
    }
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= nBefore; }));
    EXPECT_EQ(FakeLine::Written(), kSizeRequestWire);
}

TEST_F(LinkEngineTest, FramesDecodedBeforeStartAreDeliveredOldestFirst)
{
    CHdlcLink link("COM1", &m_sink);
    FakeLine::Receive(Concat({SizeResponse(1), SizeResponse(2), SizeResponse(3)}));
    EXPECT_EQ(m_sink.Count(), 0u);
    link.Start();
    ASSERT_TRUE(WaitUntil([&] { return m_sink.Count() == 3; }));
    std::vector<Bytes> frames = m_sink.Frames();
    for (std::uint8_t i = 0; i < 3; ++i)
        EXPECT_EQ(frames[i], (Bytes{0x01, 0x01, 0x00, 0, 0, 0, std::uint8_t(i + 1)}));
}

// Deliver one, write one: delivery k finds exactly k requests on the line.
TEST_F(LinkEngineTest, WorkerAlternatesBetweenBothQueues)
{
    CHdlcLink link("COM1", &m_sink);
    constexpr int kFrames = 6;
    for (int i = 0; i < kFrames; ++i) {
        FakeLine::Receive(SizeResponse(std::uint32_t(i)));
        PostRequest(link, 0x00);
    }
    link.Start();
    ASSERT_TRUE(WaitUntil([&] { return m_sink.Count() == kFrames; }));
    ASSERT_TRUE(FakeLine::WaitWritten(11 * kFrames));
    std::vector<std::size_t> seen = m_sink.WrittenAtDelivery();
    for (int k = 0; k < kFrames; ++k)
        EXPECT_EQ(seen[k], std::size_t(11 * k)) << "delivery " << k;
}

TEST_F(LinkEngineTest, ClosedPortStartsNoWorkerAndReturnsEveryBuffer)
{
    FakeLine::Reset(false);
    {
        CHdlcLink link("COM9", &m_sink);
        EXPECT_FALSE(link.IsOpen());
        msgbox::Reset();  // the controller's own box
        PostRequest(link, 0x00);
        PostRequest(link, 0x02);
        link.Start();
        auto boxes = msgbox::Entries();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "Unable to open serial port.");
        EXPECT_EQ(boxes[0].style, unsigned(MB_OK | MB_ICONEXCLAMATION));
        EXPECT_EQ(BufferPoolFreeCount(), kPoolBufferCount - 2);
    }
    EXPECT_TRUE(FakeLine::Written().empty());
    EXPECT_EQ(m_sink.Count(), 0u);
}

TEST_F(LinkEngineTest, DestroyingARunningLinkReturnsQueuedAndHalfReceivedBuffers)
{
    {
        CHdlcLink link("COM1", &m_sink);
        link.Start();
        m_sink.Hold(true);
        FakeLine::Receive(SizeResponse(7));  // the worker stops inside OnFrame
        for (int i = 0; i < 5; ++i) {
            FakeLine::Receive(SizeResponse(std::uint32_t(i)));
            PostRequest(link, 0x02);
        }
        Bytes half = SizeResponse(9);
        half.resize(half.size() / 2);
        FakeLine::Receive(half);
        EXPECT_LT(BufferPoolFreeCount(), kPoolBufferCount - 10);
        m_sink.Hold(false);
    }
    // TearDown checks that all 1000 buffers are home.
}

// Every frame queued while the worker sleeps must wake it: a lost wake-up
// shows as a frame that never arrives.
TEST_F(LinkEngineTest, FramesQueuedWhileIdleAreHandledOneByOne)
{
    CHdlcLink link("COM1", &m_sink);
    link.Start();
    for (std::uint32_t i = 0; i < 500; ++i) {
        FakeLine::Receive(SizeResponse(i));
        ASSERT_TRUE(WaitUntil([&] { return m_sink.Count() == i + 1; })) << i;
        PostRequest(link, 0x00);
        ASSERT_TRUE(FakeLine::WaitWritten(11 * (i + 1))) << i;
    }
}

#ifdef __linux__
double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// An idle link sleeps: a polling worker would burn a whole core meanwhile.
TEST_F(LinkEngineTest, IdleWorkerDoesNotSpin)
{
    CHdlcLink link("COM1", &m_sink);
    link.Start();
    double before = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(ProcessCpuSeconds() - before, 0.1);
}
#endif

std::mutex g_traceLock;
typedef std::vector<std::pair<int, Bytes>> TraceLog;

void RecordTrace(void* pContext, int nDirection, const std::uint8_t* pBytes, std::uint32_t count)
{
    std::lock_guard<std::mutex> lock(g_traceLock);
    static_cast<TraceLog*>(pContext)->emplace_back(nDirection, Bytes(pBytes, pBytes + count));
}

TEST_F(LinkEngineTest, TraceHookSeesWritesBurstsAndDeliveredFrames)
{
    TraceLog g_trace;
    LinkOptions options;
    options.pfnTrace = RecordTrace;
    options.pTraceContext = &g_trace;
    {
        CHdlcLink link("COM1", &m_sink, options);
        link.Start();
        Bytes response = SizeResponse(0x7F);
        FakeLine::Receive(response);
        ASSERT_TRUE(WaitUntil([&] { return m_sink.Count() == 1; }));
        PostRequest(link, 0x00);
        ASSERT_TRUE(FakeLine::WaitWritten(11));
        EXPECT_TRUE(WaitUntil([] { return BufferPoolFreeCount() == kPoolBufferCount; }));

        std::lock_guard<std::mutex> lock(g_traceLock);
        ASSERT_EQ(g_trace.size(), 3u);
        EXPECT_EQ(g_trace[0], std::make_pair(int(LINK_TRACE_BURST), response));
        EXPECT_EQ(g_trace[1].first, LINK_TRACE_FRAME);
        EXPECT_EQ(g_trace[1].second.size(), 11u);  // message, FCS and trailer
        EXPECT_EQ(g_trace[1].second[6], 0x7F);
        EXPECT_EQ(g_trace[2], std::make_pair(int(LINK_TRACE_WRITE), kSizeRequestWire));
    }
}

}  // namespace
