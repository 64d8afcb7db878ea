// CMapUploader against a scripted station on the in-memory line, with the
// clock in the test's hand.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <new>
#include <ostream>

#include "link/FrameBuffer.h"
#include "retrieval/MapUploader.h"
#include "platform/AppMessageBox.h"
#include "tests/fakes/FakeLine.h"
#include "tests/fakes/RecordingMessageBox.h"
#include "tests/fakes/WireVectors.h"
#include "tests/retrieval/UploaderTestSupport.h"

using Bytes = std::vector<std::uint8_t>;

// Lets a test refuse the image's allocation. ThreadSanitizer's runtime brings
// its own operator new[] and cannot share it, so that build goes without.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TCC_NO_NEW_REPLACEMENT 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define TCC_NO_NEW_REPLACEMENT 1
#endif

static std::atomic<bool> g_bFailArrayNew{false};

#ifndef TCC_NO_NEW_REPLACEMENT
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept
{
    if (g_bFailArrayNew.load())
        return nullptr;
    try {
        return ::operator new[](n);
    }
    catch (...) {
        return nullptr;
    }
}
#endif

namespace {

constexpr std::uint32_t kBase = 1000000;
using Boxes = std::vector<msgbox::Entry>;

// The failure box: its first line as ever, its second the cause's words.
msgbox::Entry FailureBox(RunFailure cause, const std::string& strDetail = std::string())
{
    return {"Failed to communicate with system\n" + RunFailureText(cause, strDetail), MB_OK | MB_ICONEXCLAMATION};
}

Bytes Concat(const Bytes& a, const Bytes& b)
{
    Bytes all = a;
    all.insert(all.end(), b.begin(), b.end());
    return all;
}

// Chunks of at most 1013 bytes; the last carries flag 0.
std::vector<Bytes> ChunksOf(const Bytes& image)
{
    std::vector<Bytes> frames;
    std::size_t offset = 0;
    do {
        std::size_t n = std::min<std::size_t>(1013, image.size() - offset);
        Bytes part(image.begin() + long(offset), image.begin() + long(offset + n));
        offset += n;
        frames.push_back(DataChunk(offset < image.size() ? 1 : 0, std::uint32_t(n), part));
    } while (offset < image.size());
    return frames;
}

Bytes SizeMessageFrame(const Bytes& message) { return StationFrame(message); }

class MapUploaderTest : public ::testing::Test {
protected:
    explicit MapUploaderTest(std::uint32_t dwStart = kBase) : m_ticks(dwStart) {}

    void SetUp() override
    {
        FakeLine::Reset(true);
        msgbox::Reset();
    }
    void TearDown() override
    {
        m_pUploader.reset();
        EXPECT_EQ(FakeLine::Alive(), 0);
        g_bFailArrayNew.store(false);
    }

    void Create()
    {
        m_pUploader = std::make_unique<CMapUploader>("COM1", &m_ticks);
        m_ticks.Observe(m_pUploader.get());
    }
    // hook, if given, runs on the worker at nHookPoint (CMapUploaderProbe::k...).
    void CreateAndStart(int nHookPoint = -1, std::function<void()> hook = nullptr)
    {
        Create();
        m_pRaw = m_pUploader.get();
        if (hook)
            CMapUploaderProbe::Hook(*m_pUploader, nHookPoint, std::move(hook));
        m_pUploader->Start();
        m_worker = CMapUploaderProbe::Worker(*m_pUploader);
    }
    CMapUploader& U() { return *m_pUploader; }

    // The worker has looked at the clock k times in state s. Restarting the
    // timer is its first look in a waiting state, so 2 means "restarted and
    // now waiting".
    void Settle(int nState, int k = 2)
    {
        ASSERT_TRUE(WaitUntil([&] { return m_ticks.ReadingsBy(m_worker, nState) >= k; }))
            << "state " << nState << ", now " << U().GetState();
    }
    // Every buffer home again: the frames fed so far have been handled.
    void Quiet()
    {
        ASSERT_TRUE(WaitUntil([] { return BufferPoolFreeCount() == kPoolBufferCount; }));
    }
    // Receive decodes on this thread; a frame that fails its check leaves its
    // buffer with the decoder, to be filled again from the next flag.
    void Feed(const Bytes& frame)
    {
        const std::uint32_t dwDropped = U().GetLinkCounts().drops.Total();
        FakeLine::Receive(frame);
        const std::uint32_t dwHeld = U().GetLinkCounts().drops.Total() != dwDropped ? 1 : 0;
        ASSERT_TRUE(WaitUntil([&] { return BufferPoolFreeCount() + dwHeld == kPoolBufferCount; }));
    }
    void ToAwaitData(std::uint32_t dwSize)
    {
        Settle(AwaitSize);
        ASSERT_TRUE(FakeLine::WaitWritten(11));
        EXPECT_EQ(U().GetTotalSize(), 0u);
        FakeLine::Receive(SizeResponse(dwSize));
        Settle(AwaitData);
        ASSERT_TRUE(FakeLine::WaitWritten(22));
        EXPECT_EQ(FakeLine::Written(), Concat(kSizeRequestWire, kDataRequestWire));
        EXPECT_EQ(U().GetTotalSize(), dwSize);
    }
    // A failed run names its cause (and the detail its words take) in the
    // box and to tcc-upload alike.
    void ExpectFinished(bool bSucceeded, RunFailure cause = RunFailure::noReply, const std::string& strDetail = "")
    {
        ASSERT_TRUE(WaitUntil([&] { return U().m_bFinished.load() != 0; }));
        EXPECT_EQ(U().Succeeded() != 0, bSucceeded);
        EXPECT_EQ(msgbox::Entries(), bSucceeded ? Boxes{} : Boxes{FailureBox(cause, strDetail)});
        EXPECT_EQ(U().GetFailure(), bSucceeded ? RunFailure::none : cause);
        EXPECT_EQ(U().GetFailureDetail(), bSucceeded ? std::string() : strDetail);
    }

    CFakeTicks m_ticks;
    std::unique_ptr<CMapUploader> m_pUploader;
    CMapUploader* m_pRaw = nullptr;  // for hooks: closing tests reset m_pUploader on another thread
    std::thread::id m_worker;
};

// ---- whole retrievals --------------------------------------------------------

class ImageSizeTest : public MapUploaderTest, public ::testing::WithParamInterface<std::uint32_t> {};

// Each accepted chunk restarts the wait, so 9999 ms between chunks never
// times out however long the whole transfer takes.
TEST_P(ImageSizeTest, ImageArrivesIntactChunkByChunk)
{
    Bytes image = TestImage(GetParam());
    CreateAndStart();
    ToAwaitData(GetParam());
    std::uint32_t dwExpected = 0;
    for (const Bytes& chunk : ChunksOf(image)) {
        FakeLine::Receive(chunk);
        dwExpected += std::min<std::uint32_t>(1013, GetParam() - dwExpected);
        ASSERT_TRUE(WaitUntil([&] { return U().GetReceived() == dwExpected; }))
            << "state " << U().GetState() << " received " << U().GetReceived();
        m_ticks.Advance(9999);
    }
    ExpectFinished(true);
    EXPECT_EQ(U().GetReceived(), GetParam());
    EXPECT_EQ(Bytes(U().GetData(), U().GetData() + U().GetReceived()), image);
    Quiet();
}

INSTANTIATE_TEST_SUITE_P(Sizes, ImageSizeTest, ::testing::Values(0u, 1u, 1013u, 1014u, 5000u, 524288u));

// ---- scripted endings ---------------------------------------------------------

struct ScriptCase {
    const char* pszName;
    Bytes sizeFrame;            // answered to the size request
    std::vector<Bytes> chunks;  // fed one by one in AwaitData
    int nEnd;                   // Done, Error, or AwaitData (then silence)
    std::uint32_t dwReceived;
    RunFailure cause;  // of a run that does not end in Done
    const char* pszDetail;
};

// A frame the line damaged: one bit of its body flipped, so its FCS fails.
Bytes Damaged(Bytes frame)
{
    frame[frame.size() / 2] ^= 0x04;
    return frame;
}

// A well-formed frame for another address: the FCS covers the body alone.
Bytes ForAnother(Bytes frame)
{
    frame[1] = 0x02;
    return frame;
}

// Longer than any buffer: what a flag lost to noise makes of two frames.
Bytes Overlong() { return Concat(Concat({0x7F, 0x01, 0x03}, Bytes(kFrameDataSize + 1, 0x11)), {0x7F}); }

std::vector<ScriptCase> ScriptCases()
{
    Bytes ten = TestImage(10);
    const RunFailure ok = RunFailure::none, bad = RunFailure::badReply;
    return {
        {"EmptyImageWithEmptyLastChunk", SizeResponse(0), {DataChunk(0, 0, {})}, Done, 0, ok, ""},
        {"EmptyImageWithOneByte",
         SizeResponse(0),
         {DataChunk(0, 1, {0xAA})},
         Error,
         0,
         bad,
         "a chunk of 1 byte where 0 were missing"},
        {"FullButFlaggedThenEmptyLast",
         SizeResponse(10),
         {DataChunk(1, 10, ten), DataChunk(0, 0, {})},
         Done,
         10,
         ok,
         ""},
        {"FullButFlaggedThenOneMore",
         SizeResponse(10),
         {DataChunk(1, 10, ten), DataChunk(1, 1, {0x55})},
         Error,
         10,
         bad,
         "a chunk of 1 byte where 0 were missing"},
        {"FullButFlaggedThenSilence",
         SizeResponse(10),
         {DataChunk(1, 10, ten)},
         AwaitData,
         10,
         RunFailure::noReply,
         ""},
        {"LastChunkBeforeFull",
         SizeResponse(10),
         {DataChunk(0, 9, Bytes(ten.begin(), ten.end() - 1))},
         Error,
         9,
         bad,
         "the last chunk left the image 1 byte short"},
        {"ShortLastChunk",
         SizeResponse(1014),
         {DataChunk(1, 1013, TestImage(1013)), DataChunk(0, 1, {0x01})},
         Done,
         1014,
         ok,
         ""},
        {"ChunkLongerThanMissing",
         SizeResponse(10),
         {DataChunk(1, 5, Bytes(ten.begin(), ten.begin() + 5)), DataChunk(0, 6, TestImage(6))},
         Error,
         5,
         bad,
         "a chunk of 6 bytes where 5 were missing"},
        {"ChunkLongerThanTheOneByteMissing",
         SizeResponse(2),
         {DataChunk(1, 1, {7}), DataChunk(0, 2, {8, 9})},
         Error,
         1,
         bad,
         "a chunk of 2 bytes where 1 was missing"},
        {"ChunkClaimsMoreThanItCarries",
         SizeResponse(100),
         {DataChunk(1, 100, ten)},
         Error,
         0,
         bad,
         "a chunk announced 100 bytes and carried 10"},
        {"ChunkCutBeforeItsCount",
         SizeResponse(10),
         {SizeMessageFrame({0x01, 0x03, 0x00, 0x00, 0x00})},
         Error,
         0,
         bad,
         "a chunk of 5 bytes, too short to hold its count"},
        {"SizeAboveLimit", SizeResponse(524289), {}, Error, 0, bad, "announced 524289 bytes, over the 524288 limit"},
        {"SizeResponseCutShort",
         SizeMessageFrame({0x01, 0x01, 0x00, 0x00, 0x00, 0x10}),
         {},
         Error,
         0,
         bad,
         "a size response of 6 bytes, too short to hold the size"},
        {"TinyMessagesIgnoredThenLastChunk",
         SizeResponse(3),
         {SizeMessageFrame({0x01}), SizeMessageFrame({0x02, 0x03}), DataChunk(0, 3, {1, 2, 3})},
         Done,
         3,
         ok,
         ""},
        // Chunks carry no offset: a chunk lost to noise makes the last one
        // leave the image short, and the noise is what the user must hear of.
        {"ChunkLostToNoiseLeavesTheImageShort",
         SizeResponse(12),
         {Damaged(DataChunk(1, 5, TestImage(5))), DataChunk(0, 7, TestImage(7))},
         Error,
         7,
         RunFailure::lineNoisy,
         "1 frame failed its check"},
        {"DamagedFrameThenSilence",
         SizeResponse(10),
         {Damaged(DataChunk(0, 10, ten))},
         AwaitData,
         0,
         RunFailure::lineNoisy,
         "1 frame failed its check"},
        // Frames for another address are no noise: a silence after them is
        // the station's; the count names only what failed its check.
        {"FramesForAnotherThenSilence",
         SizeResponse(10),
         {ForAnother(DataChunk(1, 5, ten)), ForAnother(DataChunk(0, 10, ten))},
         AwaitData,
         0,
         RunFailure::noReply,
         ""},
        {"DamagedFramesForAnotherAndOneOverlongThenSilence",
         SizeResponse(10),
         {Damaged(ForAnother(DataChunk(1, 5, ten))), ForAnother(DataChunk(1, 5, ten)), Overlong()},
         AwaitData,
         0,
         RunFailure::lineNoisy,
         "2 frames failed their check"},
        {"DamagedFrameInASuccessfulRun",
         SizeResponse(10),
         {Damaged(DataChunk(1, 5, ten)), DataChunk(0, 10, ten)},
         Done,
         10,
         ok,
         ""},
    };
}

void PrintTo(const ScriptCase& c, std::ostream* os) { *os << c.pszName; }

class ScriptTest : public MapUploaderTest, public ::testing::WithParamInterface<ScriptCase> {};

TEST_P(ScriptTest, EndsAsScripted)
{
    const ScriptCase& c = GetParam();
    CreateAndStart();
    Settle(AwaitSize);
    FakeLine::Receive(c.sizeFrame);
    if (!c.chunks.empty()) {
        Settle(AwaitData);
        for (const Bytes& chunk : c.chunks)
            Feed(chunk);
    }
    if (c.nEnd == AwaitData) {
        Settle(AwaitData);
        m_ticks.Advance(9999);
        Settle(AwaitData, 3);  // looked at the clock again and went back to sleep
        EXPECT_EQ(U().GetState(), AwaitData);
        m_ticks.Advance(1);
    }
    ExpectFinished(c.nEnd == Done, c.cause, c.pszDetail);
    EXPECT_EQ(U().GetReceived(), c.dwReceived);
}

INSTANTIATE_TEST_SUITE_P(Cases, ScriptTest, ::testing::ValuesIn(ScriptCases()),
                         [](const auto& info) { return std::string(info.param.pszName); });

// ---- the reply timeout -----------------------------------------------------------

class SizeTimeoutTest : public MapUploaderTest, public ::testing::WithParamInterface<std::uint32_t> {
protected:
    SizeTimeoutTest() : MapUploaderTest(GetParam()) {}
};

// Also across the wrap of the 32-bit tick count: a deadline computed modulo
// 2^32 lies numerically below "now" there and must not expire at once.
TEST_P(SizeTimeoutTest, NoAnswerEndsInErrorAfterExactly10000ms)
{
    CreateAndStart();
    Settle(AwaitSize);
    m_ticks.Advance(9999);
    Settle(AwaitSize, 3);
    EXPECT_EQ(U().GetState(), AwaitSize);
    EXPECT_TRUE(msgbox::Entries().empty());
    m_ticks.Advance(1);
    ExpectFinished(false);
    ASSERT_TRUE(FakeLine::WaitWritten(11));
    EXPECT_EQ(FakeLine::Written(), kSizeRequestWire);
}

INSTANTIATE_TEST_SUITE_P(Starts, SizeTimeoutTest, ::testing::Values(kBase, 0xFFFFFFFFu - 3000u, 0xFFFFFFFFu, 0u));

TEST_F(MapUploaderTest, FramesOutOfTurnAreIgnoredAndDoNotExtendTheWait)
{
    CreateAndStart();
    Settle(AwaitSize);
    m_ticks.Advance(6000);
    Feed(DataChunk(0, 0, {}));  // a chunk while the size is awaited
    EXPECT_EQ(CMapUploaderProbe::TimerRemaining(U()), 4000u);
    EXPECT_EQ(U().GetState(), AwaitSize);

    FakeLine::Receive(SizeResponse(4));
    Settle(AwaitData);
    m_ticks.Advance(6000);
    Feed(SizeResponse(8));                               // a size while data is awaited
    Feed(StationFrame({0x02, 0x03, 0x00, 0, 0, 0, 0}));  // wrong first byte
    Feed(StationFrame({}));                              // no message at all
    EXPECT_EQ(CMapUploaderProbe::TimerRemaining(U()), 4000u);
    EXPECT_EQ(U().GetTotalSize(), 4u);
    m_ticks.Advance(4000);
    ExpectFinished(false);
}

// ---- resources -------------------------------------------------------------

TEST_F(MapUploaderTest, EmptyPoolSendsNothingAndTimesOut)
{
    Create();
    std::vector<FrameBuffer*> taken;
    while (FrameBuffer* p = BufferPoolGet())
        taken.push_back(p);
    U().Start();
    m_worker = CMapUploaderProbe::Worker(U());
    Settle(AwaitSize);
    m_ticks.Advance(10000);
    ExpectFinished(false);
    EXPECT_TRUE(FakeLine::Written().empty());
    for (FrameBuffer* p : taken)
        BufferPoolPut(p);
}

TEST_F(MapUploaderTest, ImageMemoryRefusedEndsInError)
{
#ifdef TCC_NO_NEW_REPLACEMENT
    GTEST_SKIP() << "operator new[] cannot be replaced in this build";
#endif
    CreateAndStart();
    Settle(AwaitSize);
    g_bFailArrayNew.store(true);
    FakeLine::Receive(SizeResponse(1000));
    ExpectFinished(false);
    g_bFailArrayNew.store(false);
    EXPECT_EQ(U().GetData(), nullptr);
}

// One box per failed start, its second line the cause in the technician's
// words; GetFailure gives the same cause to tcc-upload.
TEST_F(MapUploaderTest, PortNotOpenShowsOneBoxNamingTheCause)
{
    struct {
        PortFault fault;
        const char* pszGroup;
        RunFailure cause;
        const char* pszSecondLine;
    } const cases[] = {
        {PortFault::notFound, "", RunFailure::portNotFound,
         "The port is not there. Check the cable or USB adapter, and the port's number in Device Manager."},
        {PortFault::busy, "", RunFailure::portBusy,
         "The port is in use by another program. Close that program, then try again."},
        {PortFault::denied, "", RunFailure::portDenied,
         "Access to the port was refused. Ask your administrator for the right to use it."},
        {PortFault::denied, "dialout", RunFailure::portDenied,
         "Access to the port was refused. Members of the group \"dialout\" may use it."},
        {PortFault::notSerial, "", RunFailure::notASerialPort,
         "The name is not that of a serial port. Check it in Device Manager."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(RunFailureClass(c.cause));
        msgbox::Reset();
        FakeLine::Reset(false, c.fault, c.pszGroup);
        Create();
        U().Start();
        const std::string strText = std::string("Unable to open serial port.\n") + c.pszSecondLine;
        EXPECT_EQ(msgbox::Entries(), (Boxes{{strText, MB_OK | MB_ICONEXCLAMATION}}));
        EXPECT_NE(U().m_bFinished.load(), 0u);
        EXPECT_EQ(U().Succeeded(), 0);
        EXPECT_EQ(U().GetFailure(), c.cause);
        EXPECT_EQ(U().GetState(), RequestSize);
        EXPECT_EQ(CMapUploaderProbe::Worker(U()), std::thread::id());
        m_pUploader.reset();
    }
}

// ---- the line going away -------------------------------------------------------

// The run ends at once, on the clock the test never moves: not by the reply
// timeout. Frames received before the loss still count, so a loss right after
// the last chunk leaves a complete image.
TEST_F(MapUploaderTest, LineLostEndsTheRunWithoutTheTimeout)
{
    Bytes image = TestImage(3000);
    std::vector<Bytes> chunks = ChunksOf(image);
    for (int nWaiting : {AwaitSize, AwaitData}) {
        SCOPED_TRACE(nWaiting);
        msgbox::Reset();
        FakeLine::Reset(true);
        CreateAndStart();
        if (nWaiting == AwaitData) {
            ToAwaitData(3000);
            Feed(chunks[0]);
        }
        Settle(nWaiting);
        FakeLine::LoseLine();
        ExpectFinished(false, RunFailure::lineLost);
        m_pUploader.reset();
    }

    msgbox::Reset();
    FakeLine::Reset(true);
    CreateAndStart();
    ToAwaitData(3000);
    for (const Bytes& chunk : chunks)
        FakeLine::Receive(chunk);
    FakeLine::LoseLine();
    ExpectFinished(true);
    EXPECT_EQ(U().GetFailure(), RunFailure::none);
}

// The line's own error counts make a failed run noisy as dropped frames do,
// the line's loss aside: that says more than any count.
struct LineErrorCase {
    LineErrorCounts errors;
    bool bLoseLine;
    RunFailure cause;
    const char* pszDetail;
};

void PrintTo(const LineErrorCase& c, std::ostream* os)
{
    *os << c.errors.dwParity << " parity, " << c.errors.dwFraming << " framing, " << c.errors.dwOverrun << " overrun"
        << (c.bLoseLine ? ", line lost" : "");
}

class LineErrorTest : public MapUploaderTest, public ::testing::WithParamInterface<LineErrorCase> {};

TEST_P(LineErrorTest, ErrorsTheLineCountedNameANoisyLine)
{
    const LineErrorCase& c = GetParam();
    CreateAndStart();
    Settle(AwaitSize);
    FakeLine::SetLineErrors(c.errors);
    if (c.bLoseLine)
        FakeLine::LoseLine();
    else
        m_ticks.Advance(10000);
    ExpectFinished(false, c.cause, c.pszDetail);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, LineErrorTest,
    ::testing::Values(LineErrorCase{{1, 0, 0}, false, RunFailure::lineNoisy, "1 parity error"},
                      LineErrorCase{
                          {2, 1, 3}, false, RunFailure::lineNoisy, "2 parity errors, 1 framing error, 3 overruns"},
                      LineErrorCase{{0, 0, 1}, false, RunFailure::lineNoisy, "1 overrun"},
                      LineErrorCase{{0, 0, 0}, false, RunFailure::noReply, ""},
                      LineErrorCase{{4, 0, 0}, true, RunFailure::lineLost, ""}));

// ---- closing -------------------------------------------------------------------

// The window deletes the uploader just after its worker has found the reply
// overdue and passed the stop test: the worker must end without the failure
// box, which the closing window could never answer.
TEST_F(MapUploaderTest, ClosingWhileTheFailureIsReachedShowsNoBox)
{
    std::atomic<bool> bReporting{false};
    CreateAndStart(CMapUploaderProbe::kReporting, [&] {
        bReporting.store(true);
        while (!CMapUploaderProbe::Stopping(*m_pRaw))
            std::this_thread::yield();
    });
    Settle(AwaitSize);
    m_ticks.Advance(10000);
    ASSERT_TRUE(WaitUntil([&] { return bReporting.load(); }));
    std::thread closer([&] { m_pUploader.reset(); });
    closer.join();
    EXPECT_TRUE(msgbox::Entries().empty());
}

// A close whose wake lands between the worker taking the wake sequence and
// testing the stop flag must still end the worker at once, not after the
// rest of the reply period. The hook has to sit in that window: a wake it
// makes there is one the worker took its sequence before, so the worker looks
// at the clock again at once (a hook before the take would let it sleep), and
// a close there ends the worker before it looks at the clock (a hook after the
// stop test would let it look once more).
TEST_F(MapUploaderTest, ClosingAsTheWorkerWakesEndsItWithoutAnotherWait)
{
    enum { kIdle, kWake, kClose };
    std::atomic<int> nAction{kIdle};
    std::atomic<bool> bAtPoint{false};
    CreateAndStart(CMapUploaderProbe::kSequenceTaken, [&] {
        int nNow = nAction.exchange(kIdle);
        if (nNow == kWake)
            m_ticks.Advance(0);
        if (nNow != kClose)
            return;
        std::uint32_t dwSeen = CMapUploaderProbe::WakeSequence(*m_pRaw);
        bAtPoint.store(true);
        while (!CMapUploaderProbe::Stopping(*m_pRaw) || CMapUploaderProbe::WakeSequence(*m_pRaw) == dwSeen)
            std::this_thread::yield();
    });
    Settle(AwaitSize);
    int nLooks = m_ticks.ReadingsBy(m_worker, AwaitSize);
    nAction.store(kWake);
    m_ticks.Advance(1);
    Settle(AwaitSize, nLooks + 2);  // the pass the hook ran in, and one more at once

    nLooks = m_ticks.ReadingsBy(m_worker, AwaitSize);
    // A look at the clock after the stop means the worker went back to sleep
    // on a wake already spent; wake it so that the failure costs no time.
    m_ticks.SetHook([&](int) {
        if (std::this_thread::get_id() == m_worker && CMapUploaderProbe::Stopping(*m_pRaw))
            m_ticks.Advance(0);
    });
    nAction.store(kClose);
    m_ticks.Advance(1);
    ASSERT_TRUE(WaitUntil([&] { return bAtPoint.load(); }));
    std::thread closer([&] { m_pUploader.reset(); });
    closer.join();
    m_ticks.SetHook(nullptr);
    EXPECT_EQ(m_ticks.ReadingsBy(m_worker, AwaitSize), nLooks);
}

// The last chunk arrives while the worker finds the reply overdue: the run
// ends one way only. Here the worker wins, so the chunk that comes after the
// failure box must not turn the state into Complete.
TEST_F(MapUploaderTest, ReplyAtTheDeadlineLosingToTheTimeoutLeavesTheRunFailed)
{
    CreateAndStart();
    ToAwaitData(10);
    std::atomic<bool> bHeld{false};
    std::thread::id test = std::this_thread::get_id();
    m_ticks.SetHook([&](int nState) {
        std::thread::id self = std::this_thread::get_id();
        if (self == m_worker || self == test || nState != AwaitData || bHeld.exchange(true))
            return;
        // The link's worker is restarting the timer for the chunk: the
        // deadline passes before it gets the time.
        m_ticks.Advance(10000);
        while (m_pRaw->m_bFinished.load() == 0)
            std::this_thread::yield();
    });
    FakeLine::Receive(DataChunk(0, 10, TestImage(10)));
    Quiet();
    m_ticks.SetHook(nullptr);
    EXPECT_TRUE(bHeld.load());
    ExpectFinished(false);
    EXPECT_EQ(U().GetState(), Error);
}

// The other way round: the worker has found the reply overdue when the last
// chunk completes the image. The image wins; no failure box follows it.
TEST_F(MapUploaderTest, ReplyAtTheDeadlineBeatingTheTimeoutCompletesTheRun)
{
    std::atomic<bool> bOverdue{false};
    CreateAndStart(CMapUploaderProbe::kOverdue, [&] {
        bOverdue.store(true);
        while (m_pRaw->GetState() != Complete)
            std::this_thread::yield();
    });
    ToAwaitData(10);
    m_ticks.Advance(10000);
    ASSERT_TRUE(WaitUntil([&] { return bOverdue.load(); }));
    FakeLine::Receive(DataChunk(0, 10, TestImage(10)));
    ExpectFinished(true);
    EXPECT_EQ(Bytes(U().GetData(), U().GetData() + U().GetReceived()), TestImage(10));
}

TEST_F(MapUploaderTest, ClosingDuringATransferEndsBothWorkers)
{
    CreateAndStart();
    ToAwaitData(5000);
    FakeLine::Receive(ChunksOf(TestImage(5000))[0]);
    ASSERT_TRUE(WaitUntil([&] { return U().GetReceived() == 1013; }));
    m_pUploader.reset();
    EXPECT_TRUE(msgbox::Entries().empty());
}

// ---- the timer itself ------------------------------------------------------

struct TimerCase {
    std::uint32_t dwStart;
    std::uint32_t dwElapsed;
    std::uint32_t dwRemaining;
};

class TimeoutTest : public ::testing::TestWithParam<TimerCase> {};

TEST_P(TimeoutTest, RemainingCountsFromTheRestart)
{
    const TimerCase& c = GetParam();
    CFakeTicks ticks(c.dwStart);
    CTimeout timeout(10000, &ticks);
    timeout.Restart(0);
    ticks.Advance(c.dwElapsed);
    EXPECT_EQ(timeout.Remaining(), c.dwRemaining);
    EXPECT_EQ(timeout.IsExpired() != 0, c.dwRemaining == 0);
}

INSTANTIATE_TEST_SUITE_P(Ticks, TimeoutTest,
                         ::testing::Values(TimerCase{0, 0, 10000}, TimerCase{5, 9999, 1}, TimerCase{5, 10000, 0},
                                           TimerCase{5, 0x7FFFFFFF, 0}, TimerCase{0xFFFFFFFF, 0, 10000},
                                           TimerCase{0xFFFFFFFF, 1, 9999}, TimerCase{0xFFFFF000, 9999, 1},
                                           TimerCase{0xFFFFF000, 10000, 0}, TimerCase{0xFFFFD8F1, 9999, 1}));

TEST(TimeoutPeriodTest, RestartWithAPeriodReplacesItAndZeroKeepsIt)
{
    CFakeTicks ticks(100);
    CTimeout timeout(10000, &ticks);
    timeout.Restart(50);
    EXPECT_EQ(timeout.Remaining(), 50u);
    ticks.Advance(20);
    timeout.Restart(0);
    EXPECT_EQ(timeout.Remaining(), 50u);
    ticks.Advance(50);
    EXPECT_TRUE(timeout.IsExpired());
}

}  // namespace
