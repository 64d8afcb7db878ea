// The UI thread's wait for a worker, against the real window manager: a
// worker that needs the waiting thread to answer a sent message (as a message
// box owned by its window does) must not deadlock it, and nothing posted to
// that thread may run meanwhile.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/ui/UiApi.h"
#include "app/ui/win32/WorkerWait.h"
#include "retrieval/WorkerWait.h"

namespace {

constexpr UINT kAsk = WM_APP + 1;    // sent by the worker
constexpr UINT kInput = WM_APP + 2;  // posted, as input or a timer would be

std::atomic<int> g_nAsked{0};
std::atomic<int> g_nInput{0};

LRESULT CALLBACK CountingProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam)
{
    if (nMsg == kAsk) {
        ++g_nAsked;
        return 1;
    }
    if (nMsg == kInput)
        ++g_nInput;
    return ::DefWindowProcA(hWnd, nMsg, wParam, lParam);
}

class WorkerWaitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = CountingProc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "TccWorkerWaitTest";
        ::RegisterClassA(&wc);
        m_hWnd = ::CreateWindowExA(0, wc.lpszClassName, "", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                   wc.hInstance, nullptr);
        ASSERT_NE(m_hWnd, nullptr);
        g_nAsked = 0;
        g_nInput = 0;
    }
    void TearDown() override
    {
        SetWorkerWait(nullptr);
        ::DestroyWindow(m_hWnd);
    }

    HWND m_hWnd = nullptr;
};

struct WaitCase {
    const char* pszName;
    WorkerWaitProc pfnWait;
    DWORD dwSendTimeout;  // how long the worker waits for its answer
    bool bAnswered;
};

class WorkerWaitCaseTest : public WorkerWaitTest, public ::testing::WithParamInterface<WaitCase> {};

// The plain join shows the deadlock: the worker's message is never answered,
// and only its time-out lets the test end. The wait that serves sent messages
// answers it, and leaves the posted message queued for the window's own loop.
TEST_P(WorkerWaitCaseTest, WorkerSendingToTheWaitingThread)
{
    const WaitCase& c = GetParam();
    std::atomic<bool> bAnswered{false};
    HWND hWnd = m_hWnd;
    std::thread worker([&] {
        ::PostMessageA(hWnd, kInput, 0, 0);
        DWORD_PTR dwResult = 0;
        bAnswered = ::SendMessageTimeoutA(hWnd, kAsk, 0, 0, SMTO_BLOCK, c.dwSendTimeout, &dwResult) != 0;
    });
    SetWorkerWait(c.pfnWait);
    WaitForWorker(worker);
    EXPECT_FALSE(worker.joinable());
    EXPECT_EQ(bAnswered.load(), c.bAnswered);
    EXPECT_EQ(g_nAsked.load(), c.bAnswered ? 1 : 0);
    EXPECT_EQ(g_nInput.load(), 0);
    MSG msg;
    EXPECT_TRUE(::PeekMessageA(&msg, m_hWnd, kInput, kInput, PM_REMOVE));
}

INSTANTIATE_TEST_SUITE_P(Waits, WorkerWaitCaseTest,
                         ::testing::Values(WaitCase{"PlainJoin", nullptr, 300, false},
                                           WaitCase{"ServingSentMessages", WaitServingSentMessages, 60000, true}),
                         [](const auto& info) { return std::string(info.param.pszName); });

// What a message box does first from a worker: disable its owner, a window of
// the waiting thread.
TEST_F(WorkerWaitTest, AWorkersBoxCanDisableItsOwnerWhileTheOwnerWaits)
{
    HWND hWnd = m_hWnd;
    std::thread worker([hWnd] { ::EnableWindow(hWnd, FALSE); });
    SetWorkerWait(WaitServingSentMessages);
    WaitForWorker(worker);
    EXPECT_FALSE(::IsWindowEnabled(m_hWnd));
}

// The whole of it: a worker's message box owned by a window of the waiting
// thread appears, is answered (as a person would, from outside), and the
// wait ends with the owner enabled again.
TEST_F(WorkerWaitTest, AWorkersMessageBoxOwnedByTheWaitingThreadsWindowCompletes)
{
    static const char kCaption[] = "TccWorkerWaitBox";
    HWND hWnd = m_hWnd;
    std::atomic<int> nAnswer{0};
    std::thread worker([hWnd, &nAnswer] {
        nAnswer = ::MessageBoxA(hWnd, "Failed to communicate with system", kCaption, MB_OK | MB_ICONEXCLAMATION);
    });
    std::thread person([] {
        HWND hBox = nullptr;
        while ((hBox = ::FindWindowA("#32770", kCaption)) == nullptr)
            ::Sleep(1);
        ::PostMessageA(hBox, WM_COMMAND, IDOK, 0);
    });
    SetWorkerWait(WaitServingSentMessages);
    WaitForWorker(worker);
    person.join();
    EXPECT_EQ(nAnswer.load(), IDOK);
    EXPECT_TRUE(::IsWindowEnabled(m_hWnd));
}

}  // namespace
