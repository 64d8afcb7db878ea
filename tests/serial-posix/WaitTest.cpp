// Overlapped event waits of the POSIX serial driver: completion by received
// bytes, by SetCommMask from another thread, by close, by a vanished line.
// Each wait is bounded only by the event it waits on; a hang fails the CTest
// time-out rather than passing on a clock.
#include "PtyPort.h"

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <poll.h>

#include "serial/posix/Kernel.h"

namespace {

class WaitTest : public PtyPortTest {
protected:
    void SetUp() override
    {
        PtyPortTest::SetUp();
        m_ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ASSERT_TRUE(SetCommMask(m_hComm, EV_RXCHAR));
    }
    void TearDown() override
    {
        PtyPortTest::TearDown();
        CloseHandle(m_ov.hEvent);
    }

    // Arms a wait that must be pending (nothing is waiting on the line).
    void ArmPending()
    {
        m_mask = 0xDEAD;
        ASSERT_FALSE(WaitCommEvent(m_hComm, &m_mask, &m_ov));
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
        DWORD bytes = 0;
        ASSERT_FALSE(GetOverlappedResult(m_hComm, &m_ov, &bytes, FALSE));
        ASSERT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
    }

    // GetOverlappedResult(TRUE) on a thread of its own: its result and error.
    std::future<std::pair<BOOL, DWORD>> Finish(HANDLE h)
    {
        return std::async(std::launch::async, [this, h] {
            DWORD bytes = 0;
            const BOOL ok = GetOverlappedResult(h, &m_ov, &bytes, TRUE);
            return std::make_pair(ok, ok ? ERROR_SUCCESS : GetLastError());
        });
    }

    OVERLAPPED m_ov{};
    OVERLAPPED m_ovRead{};
    DWORD m_mask = 0;
};

TEST_F(WaitTest, CompletesAtOnceWhenBytesAreWaiting)
{
    FarEndSends({0x7F});
    WaitUntilQueued(1);
    ASSERT_TRUE(WaitCommEvent(m_hComm, &m_mask, &m_ov));
    EXPECT_EQ(m_mask, EV_RXCHAR);
    EXPECT_EQ(WaitForSingleObject(m_ov.hEvent, 0), WAIT_OBJECT_0);
}

TEST_F(WaitTest, PendingWaitEndsWhenTheFarEndSends)
{
    ArmPending();
    auto done = Finish(m_hComm);
    FarEndSends({1, 2});
    const auto [ok, error] = done.get();
    EXPECT_TRUE(ok) << error;
    EXPECT_EQ(m_mask, EV_RXCHAR);
}

std::size_t ThreadCount()
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}

// The reader's way of waiting leaves the port without a thread of its own:
// closing it then ends no thread.
TEST_F(WaitTest, WaitsServedInGetOverlappedResultStartNoThread)
{
    ArmPending();
    FarEndSends({1});
    DWORD bytes = 0;
    ASSERT_TRUE(GetOverlappedResult(m_hComm, &m_ov, &bytes, TRUE));
    const std::size_t nThreads = ThreadCount();
    ASSERT_TRUE(CloseHandle(m_hComm));
    m_hComm = INVALID_HANDLE_VALUE;
    EXPECT_EQ(ThreadCount(), nThreads);
}

TEST_F(WaitTest, SetCommMaskFromAnotherThreadEndsTheWaitWithAnEmptyMask)
{
    ArmPending();
    auto done = Finish(m_hComm);
    std::thread([this] { EXPECT_TRUE(SetCommMask(m_hComm, 0)); }).join();
    const auto [ok, error] = done.get();
    EXPECT_TRUE(ok) << error;
    EXPECT_EQ(m_mask, 0u);
    // With the mask cleared a new wait fails at once instead of hanging.
    EXPECT_FALSE(WaitCommEvent(m_hComm, &m_mask, &m_ov));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    DWORD bytes = 0;
    EXPECT_FALSE(GetOverlappedResult(m_hComm, &m_ov, &bytes, TRUE));
}

TEST_F(WaitTest, SecondWaitWhileOneIsPendingIsRefused)
{
    ArmPending();
    OVERLAPPED other{};
    DWORD mask = 0;
    EXPECT_FALSE(WaitCommEvent(m_hComm, &mask, &other));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    ASSERT_TRUE(SetCommMask(m_hComm, EV_RXCHAR));
    DWORD bytes = 0;
    EXPECT_TRUE(GetOverlappedResult(m_hComm, &m_ov, &bytes, TRUE));
}

TEST_F(WaitTest, CloseHandleAbortsThePendingWait)
{
    ArmPending();
    auto signalled = std::async(std::launch::async, [this] { return WaitForSingleObject(m_ov.hEvent, INFINITE); });
    std::thread([this] { EXPECT_TRUE(CloseHandle(m_hComm)); }).join();
    m_hComm = INVALID_HANDLE_VALUE;
    EXPECT_EQ(signalled.get(), WAIT_OBJECT_0);
    EXPECT_EQ(static_cast<DWORD>(m_ov.Internal), ERROR_OPERATION_ABORTED);
}

TEST_F(WaitTest, FarEndClosingEndsTheWaitWithAnError)
{
    ArmPending();
    auto done = Finish(m_hComm);
    CloseMaster();
    const auto [ok, error] = done.get();
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, ERROR_DEVICE_NOT_CONNECTED);
    // And the next wait fails at once rather than spinning or hanging.
    EXPECT_FALSE(WaitCommEvent(m_hComm, &m_mask, &m_ov));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    std::uint8_t byte = 0;
    DWORD read = 0;
    EXPECT_FALSE(ReadFile(m_hComm, &byte, 1, &read, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
}

// A pending wait ends the same whoever observes it: GetOverlappedResult(TRUE)
// polls the line on its own thread, a wait on the event is served by the
// port's waiter thread, and both may be at it at once.
enum class Ending { FarEndSends, MaskCleared, FarEndCloses };
struct Observed {
    bool bResult;  // a thread in GetOverlappedResult(TRUE)
    bool bEvent;   // a thread in WaitForSingleObject(INFINITE)
    Ending ending;
    DWORD dwError;
    DWORD dwMask;
};

class ObservedWaitTest : public WaitTest, public ::testing::WithParamInterface<Observed> {};

TEST_P(ObservedWaitTest, EndsForEveryObserver)
{
    const Observed& p = GetParam();
    ArmPending();
    std::future<std::pair<BOOL, DWORD>> result;
    std::future<DWORD> signalled;
    if (p.bResult)
        result = Finish(m_hComm);
    if (p.bEvent)
        signalled = std::async(std::launch::async, [this] { return WaitForSingleObject(m_ov.hEvent, INFINITE); });
    switch (p.ending) {
    case Ending::FarEndSends: FarEndSends({9}); break;
    case Ending::MaskCleared: ASSERT_TRUE(SetCommMask(m_hComm, 0)); break;
    case Ending::FarEndCloses: CloseMaster(); break;
    }
    if (p.bEvent) {
        EXPECT_EQ(signalled.get(), WAIT_OBJECT_0);
    }
    if (p.bResult) {
        const auto [ok, error] = result.get();
        EXPECT_EQ(ok ? ERROR_SUCCESS : error, p.dwError);
    }
    DWORD bytes = 0;
    EXPECT_EQ(GetOverlappedResult(m_hComm, &m_ov, &bytes, FALSE) ? ERROR_SUCCESS : GetLastError(), p.dwError);
    EXPECT_EQ(m_mask, p.dwMask);
}

std::vector<Observed> AllObservations()
{
    std::vector<Observed> all;
    for (const auto& [bResult, bEvent] : {std::pair{true, false}, {false, true}, {true, true}}) {
        all.push_back({bResult, bEvent, Ending::FarEndSends, ERROR_SUCCESS, EV_RXCHAR});
        all.push_back({bResult, bEvent, Ending::MaskCleared, ERROR_SUCCESS, 0});
        all.push_back({bResult, bEvent, Ending::FarEndCloses, ERROR_DEVICE_NOT_CONNECTED, 0});
    }
    return all;
}

INSTANTIATE_TEST_SUITE_P(Observers, ObservedWaitTest, ::testing::ValuesIn(AllObservations()));

// Without anyone blocked on it, a wait the line has satisfied is seen by a
// poll of the result or of the event.
TEST_F(WaitTest, PolledPendingWaitSeesBytesThatArrived)
{
    for (const bool bPollEvent : {false, true}) {
        SCOPED_TRACE(bPollEvent ? "event" : "result");
        ArmPending();
        FarEndSends({5});
        pollfd pfd{m_slave, POLLIN, 0};  // our own view of the tty: the byte is there
        ASSERT_EQ(poll(&pfd, 1, -1), 1);
        DWORD bytes = 0;
        if (bPollEvent) {
            EXPECT_EQ(WaitForSingleObject(m_ov.hEvent, 0), WAIT_OBJECT_0);
        }
        EXPECT_TRUE(GetOverlappedResult(m_hComm, &m_ov, &bytes, FALSE));
        EXPECT_EQ(m_mask, EV_RXCHAR);
        std::uint8_t byte = 0;
        DWORD read = 0;
        ASSERT_TRUE(ReadFile(m_hComm, &byte, 1, &read, &m_ovRead));
    }
}

// Blocking write (no time-out) with nobody reading the far end: a purge with
// PURGE_TXABORT from another thread ends it. The purge is repeated until the
// writer returns, since it cannot know when the writer has blocked.
TEST_F(WaitTest, TxAbortEndsABlockedWrite)
{
    COMMTIMEOUTS t{MAXDWORD, 0, 0, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(m_hComm, &t));
    auto writer = std::async(std::launch::async, [this] {
        std::vector<std::uint8_t> lots(1 << 20, 0xAA);
        DWORD written = 0;
        const BOOL ok = WriteFile(m_hComm, lots.data(), static_cast<DWORD>(lots.size()), &written, nullptr);
        return std::make_pair(ok, ok ? ERROR_SUCCESS : GetLastError());
    });
    while (writer.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
        ASSERT_TRUE(PurgeComm(m_hComm, PURGE_TXABORT));
    const auto [ok, error] = writer.get();
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, ERROR_OPERATION_ABORTED);
}

// The serial reader's pattern: wait, read what is waiting, re-arm; a stop
// from another thread ends it whether it is waiting or busy.
TEST_F(WaitTest, ReaderLoopStopsOnMaskCleared)
{
    COMMTIMEOUTS t{MAXDWORD, 0, 0, 0, 1000};
    ASSERT_TRUE(SetCommTimeouts(m_hComm, &t));
    std::promise<void> firstBatch;
    auto reader = std::async(std::launch::async, [this, &firstBatch] {
        std::vector<std::uint8_t> got;
        bool first = true;
        for (;;) {
            m_mask = 0;
            if (!WaitCommEvent(m_hComm, &m_mask, &m_ov) && GetLastError() != ERROR_IO_PENDING)
                break;
            DWORD bytes = 0;
            if (!GetOverlappedResult(m_hComm, &m_ov, &bytes, TRUE) || !(m_mask & EV_RXCHAR))
                break;
            std::uint8_t buf[1024];
            DWORD read = 0;
            ReadFile(m_hComm, buf, sizeof buf, &read, &m_ovRead);
            got.insert(got.end(), buf, buf + read);
            if (first && got.size() >= 3) {
                first = false;
                firstBatch.set_value();
            }
        }
        return got;
    });
    FarEndSends({1, 2, 3});
    firstBatch.get_future().wait();
    ASSERT_TRUE(SetCommMask(m_hComm, 0));
    EXPECT_EQ(reader.get(), (std::vector<std::uint8_t>{1, 2, 3}));
}

// The waiter of a request sees it end and arms the next one on the same
// record while the completing thread is still inside the completion: the new
// request must find its event reset, not signalled by the old one. The
// completion stops where the end has just become visible and lets the waiter
// go as far as it can: the whole re-arm, or up to the event's lock.
struct RearmRace {
    std::mutex mutex;
    std::condition_variable changed;
    bool bWaiterParked = false;
    std::thread waiter;
    std::atomic<int> nRearmed{0};

    void Park()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            bWaiterParked = true;
        }
        changed.notify_all();
    }
};
RearmRace* g_pRace = nullptr;

void ParkTheWaiter() { g_pRace->Park(); }

void LetTheWaiterRearm(OVERLAPPED* ov)
{
    g_pRace->waiter = std::thread([ov] {
        DWORD bytes = 0;
        if (win32posix::FinishOverlapped(ov, &bytes, FALSE) && bytes == 3) {
            win32posix::BeginOverlapped(ov);
            ++g_pRace->nRearmed;
        }
        g_pRace->Park();
    });
    std::unique_lock<std::mutex> lock(g_pRace->mutex);
    g_pRace->changed.wait(lock, [] { return g_pRace->bWaiterParked; });
}

TEST(CompletionTest, ARequestArmedAsTheLastOneEndsIsNotSignalledByIt)
{
    RearmRace race;
    g_pRace = &race;
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    win32posix::BeginOverlapped(&ov);
    win32posix::SetCompletionHook(LetTheWaiterRearm);
    win32posix::SetResetWaitHook(ParkTheWaiter);
    std::thread([&ov] { win32posix::CompleteOverlapped(&ov, ERROR_SUCCESS, 3); }).join();
    race.waiter.join();
    win32posix::SetCompletionHook(nullptr);
    win32posix::SetResetWaitHook(nullptr);
    EXPECT_EQ(race.nRearmed.load(), 1);
    DWORD bytes = 0;
    EXPECT_FALSE(win32posix::FinishOverlapped(&ov, &bytes, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
    EXPECT_EQ(WaitForSingleObject(ov.hEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(ov.hEvent);
}

}  // namespace
