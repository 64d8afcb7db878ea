// Whole retrievals over a real pseudo terminal: the product's POSIX serial
// driver on one side, the station simulator on the other.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "link/FrameBuffer.h"
#include "link/HDLC.h"
#include "retrieval/MapUploader.h"
#include "platform/AppMessageBox.h"
#include "serial/SerialPortCtrl.h"
#include "tests/fakes/RecordingMessageBox.h"
#include "tests/retrieval/UploaderTestSupport.h"
#include "tests/fakes/TempFolder.h"
#include "tools/tcc-upload/Report.h"

extern char** environ;

using Bytes = std::vector<std::uint8_t>;

namespace {

const std::string kFailure = "Failed to communicate with system";

bool WaitFor(const std::function<bool()>& pred, int seconds = 20)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int CountEntries(const char* pszDir)
{
    int n = 0;
    if (DIR* d = opendir(pszDir)) {
        while (dirent* e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

// One simulator process on a fresh pty.
class CStation {
public:
    explicit CStation(std::vector<std::string> args)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        args.insert(args.begin(), {TCC_STATION_SIM, "--pty"});
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn(&m_pid, TCC_STATION_SIM, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        m_pOut = fdopen(fds[0], "r");
        char line[256] = {};
        if (m_pOut != nullptr && std::fgets(line, sizeof line, m_pOut) != nullptr &&
            std::strncmp(line, "PTY ", 4) == 0) {
            m_strPty.assign(line + 4);
            while (!m_strPty.empty() && (m_strPty.back() == '\n' || m_strPty.back() == '\r'))
                m_strPty.pop_back();
        }
    }
    ~CStation()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_pOut != nullptr)
            std::fclose(m_pOut);
    }
    const std::string& Pty() const { return m_strPty; }
    bool Exited()
    {
        if (m_pid <= 0)
            return true;
        if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            return true;
        }
        return false;
    }

private:
    pid_t m_pid = -1;
    FILE* m_pOut = nullptr;
    std::string m_strPty;
};

class EndToEndTest : public ::testing::Test {
protected:
    // The controller reads "UploadConfig.ini" from the working directory.
    static void SetUpTestSuite()
    {
        s_strDir = MakeTempFolder("tcc-e2e");
        ASSERT_FALSE(s_strDir.empty());
        ASSERT_EQ(chdir(s_strDir.c_str()), 0);
        std::ofstream("UploadConfig.ini") << "BAUDRATE=115200\n";
    }
    void SetUp() override { msgbox::Reset(); }

    std::string ImagePath(const char* pszName) { return s_strDir + "/" + pszName; }

    std::vector<std::string> Texts()
    {
        std::vector<std::string> texts;
        for (const msgbox::Entry& e : msgbox::Entries())
            texts.push_back(e.text);
        return texts;
    }

    static std::string s_strDir;
};

std::string EndToEndTest::s_strDir;

class ImageTest : public EndToEndTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(ImageTest, ImageIsSavedExactly)
{
    std::string served = ImagePath("served.bin");
    CStation station({"--unpaced", "--size", std::to_string(GetParam()), "--save-image", served});
    ASSERT_FALSE(station.Pty().empty());
    {
        CMapUploader uploader(station.Pty());
        uploader.Start();
        ASSERT_TRUE(WaitFor([&] { return uploader.m_bFinished.load(std::memory_order_acquire); }));
        EXPECT_TRUE(uploader.Succeeded());
        ASSERT_EQ(uploader.GetReceived(), GetParam());
        Bytes image(uploader.GetData(), uploader.GetData() + uploader.GetReceived());
        EXPECT_EQ(image, ReadFile(served));
    }
    EXPECT_TRUE(Texts().empty());
}

INSTANTIATE_TEST_SUITE_P(Sizes, ImageTest, ::testing::Values(0u, 1u, 1013u, 1014u, 100000u, 524288u));

// One row a simulator fault: how the run ends, its JSON class for
// tcc-upload, and the words both front ends give: the box's second line and
// tcc-upload's message, which are the same text.
struct FaultCase {
    const char* pszName;
    std::vector<std::string> simArgs;
    bool bNeedsTimeout;  // ends only by the reply timeout
    RunFailure cause;
    const char* pszClass;
    const char* pszWords;  // "" for a saved image
};

class FaultTest : public EndToEndTest, public ::testing::WithParamInterface<FaultCase> {};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.pszName; }

// The clock is the test's: a fault that ends by silence is timed out by hand
// once the station has said all it will. 20000 bytes are 19 full chunks and
// one of 753 bytes.
TEST_P(FaultTest, EndsAsItMustAndSaysWhy)
{
    const FaultCase& c = GetParam();
    std::vector<std::string> args = {"--unpaced", "--size", "20000"};
    args.insert(args.end(), c.simArgs.begin(), c.simArgs.end());
    CStation station(args);
    ASSERT_FALSE(station.Pty().empty());
    CFakeTicks ticks(5000);
    {
        CMapUploader uploader(station.Pty(), &ticks);
        ticks.Observe(&uploader);
        uploader.Start();
        if (c.bNeedsTimeout) {
            std::thread::id worker = CMapUploaderProbe::Worker(uploader);
            ASSERT_TRUE(WaitFor([&] { return ticks.ReadingsBy(worker, AwaitSize) >= 2; }));
            ASSERT_TRUE(WaitFor([] { return BufferPoolFreeCount() >= kPoolBufferCount - 1; }));
            ticks.Advance(10000);
        }
        ASSERT_TRUE(WaitFor([&] { return uploader.m_bFinished.load(std::memory_order_acquire); }));
        EXPECT_EQ(uploader.Succeeded() != 0, c.cause == RunFailure::none);
        EXPECT_EQ(uploader.GetFailure(), c.cause);
        EXPECT_EQ(std::string(RunFailureClass(c.cause) ? RunFailureClass(c.cause) : ""), c.pszClass);
        EXPECT_EQ(FailureMessage(uploader.GetFailure(), uploader.GetFailureDetail()), c.pszWords);
        EXPECT_LE(uploader.GetReceived(), uploader.GetTotalSize());
        if (c.cause == RunFailure::lineNoisy) {
            EXPECT_GT(uploader.GetLinkCounts().drops.adwCount[DROP_BAD_CHECK], 0u);
        }
        ticks.Observe(nullptr);
    }
    const std::vector<std::string> box = {kFailure + "\n" + c.pszWords};
    EXPECT_EQ(Texts(), c.cause == RunFailure::none ? std::vector<std::string>{} : box);
}

const FaultCase kFaultCases[] = {
    {"noise", {"--fault", "noise"}, false, RunFailure::none, "", ""},
    {"silent",
     {"--fault", "no-answer"},
     true,
     RunFailure::noReply,
     "no_reply",
     "The station did not answer. Check that it is on and connected, and that the baud rate matches."},
    {"oversize",
     {"--fault", "oversize"},
     false,
     RunFailure::badReply,
     "bad_reply",
     "The station answered against the protocol: announced 524289 bytes, over the 524288 limit. Note this message "
     "and call for service."},
    {"shortlast",
     {"--fault", "short-last"},
     false,
     RunFailure::badReply,
     "bad_reply",
     "The station answered against the protocol: the last chunk left the image 1 byte short. Note this message and "
     "call for service."},
    {"longchunk",
     {"--fault", "long-chunk"},
     false,
     RunFailure::badReply,
     "bad_reply",
     "The station answered against the protocol: a chunk of 754 bytes where 753 were missing. Note this message and "
     "call for service."},
    {"truncated",
     {"--fault", "truncated"},
     false,
     RunFailure::badReply,
     "bad_reply",
     "The station answered against the protocol: a chunk announced 1013 bytes and carried 506. Note this message and "
     "call for service."},
    // Three chunks hit with this seed, none of them the last: the last one
    // leaves the image short, and the noise is what is told.
    {"flip",
     {"--fault", "flip:1e-4", "--seed", "3"},
     false,
     RunFailure::lineNoisy,
     "line_noisy",
     "The line is noisy: 3 frames failed their check. Check the cable and its connectors, or use a lower baud rate."},
    {"closemid",
     {"--fault", "close-mid"},
     false,
     RunFailure::lineLost,
     "line_lost",
     "The line went away during the upload. Check the cable or USB adapter, then try again."},
};

INSTANTIATE_TEST_SUITE_P(Faults, FaultTest, ::testing::ValuesIn(kFaultCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

// The product's driver on real devices: each failed start shows one box whose
// second line is the cause's own text, and GetFailure names the same cause.
TEST_F(EndToEndTest, PortThatDoesNotOpenShowsOneBoxNamingTheCause)
{
    CStation station({"--unpaced"});
    ASSERT_FALSE(station.Pty().empty());
    // Holds the pty, as another program would (one uploader at a time: the
    // frame buffer pool is the process's).
    CSerialPortCtrl holder([](const std::uint8_t*, std::uint32_t, void*) {}, station.Pty(), nullptr);
    ASSERT_TRUE(holder.IsOpen());
    // Root opens any file it may read; a sysfs file that even root may not
    // open for writing stands in for a device without the rights.
    const char* pszDenied = "/sys/kernel/notes";
    const int fd = open(pszDenied, O_RDWR | O_NOCTTY);
    const bool bDeniable = fd < 0 && errno == EACCES;
    if (fd >= 0)
        close(fd);
    struct {
        std::string port;
        RunFailure cause;
    } const cases[] = {
        {"/dev/tcc-no-such-port", RunFailure::portNotFound},
        {station.Pty(), RunFailure::portBusy},
        {"/dev/null", RunFailure::notASerialPort},
        {pszDenied, RunFailure::portDenied},
    };
    for (const auto& c : cases) {
        if (c.cause == RunFailure::portDenied && !bDeniable)
            continue;
        SCOPED_TRACE(c.port);
        msgbox::Reset();
        CMapUploader uploader(c.port);
        uploader.Start();
        EXPECT_NE(uploader.m_bFinished.load(), 0u);
        EXPECT_EQ(uploader.Succeeded(), 0);
        EXPECT_EQ(uploader.GetFailure(), c.cause);
        EXPECT_EQ(Texts(), std::vector<std::string>{"Unable to open serial port.\n" +
                                                    RunFailureText(c.cause, PortAccessGroup(c.port))});
    }
}

// What the reader thread, the link and a frame sink see of one pty.
struct LossWatch final : IFrameSink {
    std::mutex mutex;
    std::condition_variable changed;
    int nLost = 0;
    std::chrono::steady_clock::time_point lostAt;

    void OnFrame(FrameBuffer* pFrame) override { BufferPoolPut(pFrame); }
    void OnLineLost() override { Lost(); }
    void Lost()
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++nLost;
        lostAt = std::chrono::steady_clock::now();
        changed.notify_all();
    }
    void WaitLost()
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return nLost != 0; });
    }
    static void OnBytes(const std::uint8_t*, std::uint32_t, void*) {}
    static void OnLost(void* pContext) { static_cast<LossWatch*>(pContext)->Lost(); }
};

long long MsSince(std::chrono::steady_clock::time_point start, std::chrono::steady_clock::time_point end)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count();
}

// The far end of the line goes away (a pulled USB adapter; here the pty's
// master closes): the reader and the link each hear of it once, by an event.
// The uploader's part is the close-mid fault above, on a clock that never
// moves. The delays are printed as figures.
TEST_F(EndToEndTest, PulledCableReachesTheReaderAndTheLinkAtOnce)
{
    for (int nLayer = 0; nLayer < 2; ++nLayer) {
        int master = -1, slave = -1;
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        const std::string path = ttyname(slave);
        close(slave);
        LossWatch watch;
        std::unique_ptr<CSerialPortCtrl> pCtrl;
        std::unique_ptr<CHdlcLink> pLink;
        if (nLayer == 0) {
            pCtrl = std::make_unique<CSerialPortCtrl>(LossWatch::OnBytes, path, &watch, LossWatch::OnLost);
            ASSERT_TRUE(pCtrl->IsOpen());
        }
        else {
            pLink = std::make_unique<CHdlcLink>(path, &watch);
            ASSERT_TRUE(pLink->IsOpen());
            pLink->Start();
        }
        const auto closed = std::chrono::steady_clock::now();
        close(master);
        watch.WaitLost();
        std::printf("%s heard of the loss after %lld ms\n", nLayer == 0 ? "reader" : "link",
                    MsSince(closed, watch.lostAt));
        EXPECT_EQ(watch.nLost, 1);
        EXPECT_EQ(nLayer == 0 ? pCtrl->Fault() : pLink->Fault(), PortFault::lost);
    }
}

// A paced station takes most of a minute for the largest image; closing the
// window part-way must not wait for it. Twenty closes, each at another point
// of a run (waiting for the size, or after one or two chunks), so that the
// close meets the worker asleep and awake; the times are printed as figures.
TEST_F(EndToEndTest, ClosingDuringATransferReturnsPromptly)
{
    CStation station({"--size", "524288"});
    ASSERT_FALSE(station.Pty().empty());
    long long nWorstMs = 0;
    for (int i = 0; i < 20; ++i) {
        auto pUploader = std::make_unique<CMapUploader>(station.Pty());
        pUploader->Start();
        const std::uint32_t dwChunks = std::uint32_t(i % 3);
        ASSERT_TRUE(WaitFor([&] { return pUploader->GetReceived() >= dwChunks * 1013; }));
        auto started = std::chrono::steady_clock::now();
        auto closing = std::async(std::launch::async, [&] { pUploader.reset(); });
        EXPECT_EQ(closing.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "close " << i;
        closing.wait();
        const long long nMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
        nWorstMs = std::max(nWorstMs, nMs);
        std::printf("close %d after %u chunks took %lld ms\n", i, dwChunks, nMs);
    }
    std::printf("slowest of 20 closes: %lld ms\n", nWorstMs);
    EXPECT_TRUE(Texts().empty());
}

// Many retrievals in one process leave nothing behind: every buffer, thread
// and descriptor of each run is gone with its uploader.
TEST_F(EndToEndTest, SoakOf200RetrievalsLeavesNothingBehind)
{
    CStation station({"--unpaced", "--size", "3000"});
    ASSERT_FALSE(station.Pty().empty());
    // Counted after the first run: a sanitizer runtime starts a helper thread
    // of its own the first time the process starts threads.
    int nFds = 0;
    int nTasks = 0;
    for (int i = 0; i < 200; ++i) {
        if (i == 1) {
            nFds = CountEntries("/proc/self/fd");
            nTasks = CountEntries("/proc/self/task");
        }
        CMapUploader uploader(station.Pty());
        uploader.Start();
        ASSERT_TRUE(WaitFor([&] { return uploader.m_bFinished.load(std::memory_order_acquire); })) << "run " << i;
        ASSERT_TRUE(uploader.Succeeded()) << "run " << i;
        ASSERT_EQ(uploader.GetReceived(), 3000u);
        ASSERT_TRUE(WaitFor([] { return BufferPoolFreeCount() == kPoolBufferCount; }));
    }
    EXPECT_EQ(CountEntries("/proc/self/fd"), nFds);
    // A reader thread is done once it has reported its exit code, and may
    // still be leaving the process for a moment after that.
    EXPECT_TRUE(WaitFor([&] { return CountEntries("/proc/self/task") <= nTasks; })) << "threads left behind";
    EXPECT_TRUE(Texts().empty());
}

}  // namespace
