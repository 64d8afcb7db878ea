// CSerialPortCtrl on the fake driver, with real baud-rate files in a private
// working directory per test (these tests run serially in one process).
#include "serial/SerialPortCtrl.h"

#include "serial/BaudRateFile.h"
#include "serial/PortName.h"

#include "platform/AppMessageBox.h"
#include "platform/ProgramFolder.h"
#include "tests/fakes/FakeWin32.h"
#include "tests/fakes/RecordingMessageBox.h"
#include "tests/fakes/TempFolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::Ge;
using ::testing::Le;

const char kNoFile[] = "Using Defaults, Contact Technical Support if communications fail.";

std::string Unsupported(int value)
{
    return "BaudRate " + std::to_string(value) +
           " Not Supported, Using Defaults\nContact Technical Support if communications fail.";
}

// What the reader thread delivered to one controller.
struct Received {
    int tag = 0;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint32_t> batches;
    bool bCrossed = false;  // a callback meant for another controller arrived here

    void Add(const std::uint8_t* p, std::uint32_t n, int fromTag)
    {
        std::lock_guard lock(mutex);
        bytes.insert(bytes.end(), p, p + n);
        batches.push_back(n);
        bCrossed = bCrossed || fromTag != tag;
        changed.notify_all();
    }
    void WaitFor(std::size_t n)
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return bytes.size() >= n; });
    }
    std::size_t Size()
    {
        std::lock_guard lock(mutex);
        return bytes.size();
    }
};

void CollectA(const std::uint8_t* p, std::uint32_t n, void* ctx) { static_cast<Received*>(ctx)->Add(p, n, 1); }
void CollectB(const std::uint8_t* p, std::uint32_t n, void* ctx) { static_cast<Received*>(ctx)->Add(p, n, 2); }

class SerialPortCtrlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakewin32::Reset();
        msgbox::Reset();
        m_previous = fs::current_path();
        m_dir = MakeTempFolder("tcc-serialctrl");
        ASSERT_FALSE(m_dir.empty());
        fs::current_path(m_dir);
        m_received.tag = 1;
    }
    void TearDown() override
    {
        fs::current_path(m_previous);
        fs::remove_all(m_dir);
        fakewin32::Reset();
        msgbox::Reset();
    }

    void WriteConfig(const std::string& content)
    {
        std::FILE* f = std::fopen("UploadConfig.ini", "wb");
        ASSERT_NE(nullptr, f);
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
    }
    std::unique_ptr<CSerialPortCtrl> Make(const char* port = "COM1")
    {
        return std::make_unique<CSerialPortCtrl>(CollectA, port, &m_received);
    }
    static std::vector<std::string> Texts()
    {
        std::vector<std::string> texts;
        for (const auto& e : msgbox::Entries())
            texts.push_back(e.text);
        return texts;
    }

    fs::path m_previous;
    fs::path m_dir;
    Received m_received;
};

struct BaudCase {
    const char* label;
    std::optional<std::string> content;  // nullopt: no file
    std::optional<std::string> box;      // the one box shown, if any
    DWORD dwRate;
};

class SerialPortCtrlBaudTest : public SerialPortCtrlTest, public ::testing::WithParamInterface<BaudCase> {};

TEST_P(SerialPortCtrlBaudTest, RateAndMessageFromTheFile)
{
    const BaudCase& c = GetParam();
    if (c.content)
        WriteConfig(*c.content);
    auto ctrl = Make();

    EXPECT_TRUE(ctrl->IsOpen());
    const auto boxes = msgbox::Entries();
    if (c.box) {
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ(*c.box, boxes[0].text);
        EXPECT_EQ(MB_OK, boxes[0].style);
    }
    else {
        EXPECT_TRUE(boxes.empty());
    }
    const DCB dcb = fakewin32::Dcb("COM1");
    EXPECT_EQ(c.dwRate, dcb.BaudRate);
    EXPECT_EQ(EVENPARITY, dcb.Parity);
    EXPECT_EQ(8, dcb.ByteSize);
    EXPECT_EQ(ONESTOPBIT, dcb.StopBits);
    EXPECT_EQ(1u, dcb.fParity);
    EXPECT_EQ(0u, dcb.fOutxDsrFlow + dcb.fOutxCtsFlow + dcb.fOutX + dcb.fInX);
    EXPECT_EQ(static_cast<DWORD>(DTR_CONTROL_ENABLE), dcb.fDtrControl);
    EXPECT_EQ(static_cast<DWORD>(RTS_CONTROL_ENABLE), dcb.fRtsControl);
    EXPECT_EQ(1u, fakewin32::CountCalls("CreateThread"));
}

INSTANTIATE_TEST_SUITE_P(
    Files, SerialPortCtrlBaudTest,
    ::testing::Values(BaudCase{"Missing", std::nullopt, kNoFile, 115200}, BaudCase{"Empty", "", std::nullopt, 115200},
                      BaudCase{"LowerCase", "baudrate=9600", std::nullopt, 115200},
                      BaudCase{"LeadingBlank", " BAUDRATE=9600", std::nullopt, 115200},
                      BaudCase{"Short", "BAUD", std::nullopt, 115200},
                      BaudCase{"Equals9600", "BAUDRATE=9600", std::nullopt, 9600},
                      BaudCase{"Blank19200", "BAUDRATE 19200", std::nullopt, 19200},
                      BaudCase{"Colon115200LineEnd", "BAUDRATE:115200\r\n", std::nullopt, 115200},
                      BaudCase{"BlankBeforeDigits", "BAUDRATE= 57600", std::nullopt, 57600},
                      BaudCase{"MoreLines", "BAUDRATE=38400\nPORT=COM2\n", std::nullopt, 38400},
                      BaudCase{"Unsupported4800", "BAUDRATE=4800", Unsupported(4800), 57600},
                      BaudCase{"DoubleEquals", "BAUDRATE==9600", Unsupported(0), 57600},
                      BaudCase{"NoValue", "BAUDRATE=", Unsupported(0), 57600},
                      BaudCase{"KeyOnly", "BAUDRATE", Unsupported(0), 57600},
                      BaudCase{"Negative", "BAUDRATE=-9600", Unsupported(-9600), 57600},
                      BaudCase{"Overflow", "BAUDRATE=99999999999999", Unsupported(2147483647), 57600}),
    [](const auto& info) { return std::string(info.param.label); });

// The working directory's file first, a technician's own, found even when it
// names no rate; then the one in the program's folder; the defaults (and
// with them the window's "Using Defaults" box) only when neither is there.
// A place that holds something other than a file is passed over (a folder
// opens on Linux, a FIFO waits for a writer).
TEST_F(SerialPortCtrlTest, TheWorkingDirectoryFileWinsOverTheProgramFolders)
{
    const std::string program = (m_dir / "program").string() + "/";
    fs::create_directory(program);
    const std::vector<std::string> places{"UploadConfig.ini", program + "UploadConfig.ini"};
    const char* const kFolder = "<a folder>";
    const char* const kFifo = "<a FIFO>";
    struct {
        const char* pszWorking;  // nullptr: no file there
        const char* pszProgram;
        DWORD dwRate;
        BaudRateOrigin nOrigin;
        int nFile;  // the place read: -1 none
    } const cases[] = {
        {nullptr, nullptr, 115200, RATE_NO_FILE, -1},
        {nullptr, "BAUDRATE=9600\r\n", 9600, RATE_FROM_FILE, 1},
        {"BAUDRATE=38400", "BAUDRATE=9600\r\n", 38400, RATE_FROM_FILE, 0},
        {"PORT=COM2", "BAUDRATE=9600\r\n", 115200, RATE_NO_KEY, 0},
        {"BAUDRATE=4800", "BAUDRATE=9600\r\n", 57600, RATE_VALUE_UNSUPPORTED, 0},
        {nullptr, "BAUDRATE=4800", 57600, RATE_VALUE_UNSUPPORTED, 1},
        {"BAUDRATE=19200", nullptr, 19200, RATE_FROM_FILE, 0},
        {kFolder, "BAUDRATE=9600\r\n", 9600, RATE_FROM_FILE, 1},
        {kFolder, nullptr, 115200, RATE_NO_FILE, -1},
        {nullptr, kFolder, 115200, RATE_NO_FILE, -1},
        {kFifo, "BAUDRATE=9600\r\n", 9600, RATE_FROM_FILE, 1},
    };
    for (const auto& c : cases) {
        const char* const contents[] = {c.pszWorking, c.pszProgram};
        for (std::size_t i = 0; i < places.size(); ++i) {
            fs::remove_all(places[i]);
            if (contents[i] == kFolder)
                fs::create_directory(places[i]);
            else if (contents[i] == kFifo)
                ASSERT_EQ(mkfifo(places[i].c_str(), 0644), 0);
            else if (contents[i])
                std::ofstream(places[i], std::ios::binary) << contents[i];
        }
        const BaudRateReading reading = ReadBaudRateFileFrom(places);
        const std::string label =
            std::string(c.pszWorking ? c.pszWorking : "-") + " / " + (c.pszProgram ? c.pszProgram : "-");
        EXPECT_EQ(reading.dwRate, c.dwRate) << label;
        EXPECT_EQ(reading.nOrigin, c.nOrigin) << label;
        EXPECT_EQ(reading.strFile, c.nFile < 0 ? "" : places[static_cast<std::size_t>(c.nFile)]) << label;
    }
    // The places themselves: here, then beside this very executable.
    const std::vector<std::string> usual = BaudRateFilePlaces();
    ASSERT_EQ(usual.size(), 2u);
    EXPECT_EQ(usual[0], "UploadConfig.ini");
    EXPECT_EQ(usual[1], ProgramFolder() + "UploadConfig.ini");
    EXPECT_TRUE(fs::equivalent(ProgramFolder() + "test_serial_ctrl", "/proc/self/exe"));
}

// A rate fixed by the caller replaces the file and its boxes; without one
// the file decides. Each controller keeps its own.
TEST_F(SerialPortCtrlTest, AFixedRateReplacesTheFile)
{
    for (const char* pszFile : {"", "BAUDRATE=4800", "BAUDRATE=9600"}) {
        if (*pszFile)
            WriteConfig(pszFile);
        CSerialPortCtrl ctrl(CollectA, "COM1", &m_received, nullptr, 38400);
        EXPECT_EQ(38400u, fakewin32::Dcb("COM1").BaudRate) << pszFile;
        EXPECT_EQ(38400u, ctrl.BaudRate());
        EXPECT_TRUE(msgbox::Entries().empty()) << pszFile;
    }
    auto ctrl = Make();
    EXPECT_EQ(9600u, fakewin32::Dcb("COM1").BaudRate);
    EXPECT_EQ(9600u, ctrl->BaudRate());
    ctrl.reset();
    fakewin32::Refuse("CreateFileA", ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(0u, Make()->BaudRate()) << "not open";
}

// The order that matters: the reader starts on a line whose settings and
// queues are all in place, so no byte arrives at the power-on rate.
TEST_F(SerialPortCtrlTest, ConfiguresTheLineThenStartsTheReader)
{
    WriteConfig("BAUDRATE=9600");
    auto ctrl = Make();
    const auto calls = fakewin32::Calls();
    auto last = [&](const char* name) {
        auto it = std::find_if(calls.rbegin(), calls.rend(), [&](const auto& c) { return c.name == name; });
        return it == calls.rend() ? -1 : int(calls.rend() - it) - 1;
    };
    const int nState = last("SetCommState"), nQueues = last("SetupComm"), nThread = last("CreateThread");
    ASSERT_TRUE(nState >= 0 && nQueues >= 0 && nThread >= 0);
    EXPECT_LT(nState, nThread);
    EXPECT_LT(nQueues, nThread);
    EXPECT_THAT(calls[nQueues].args, ElementsAre(4096u, 4096u));
}

struct NotOpenCase {
    const char* label;
    const char* call;
    DWORD error;
    PortFault fault;         // as this build's driver means the code
    PortFault windowsFault;  // as Windows' serial drivers mean it
};

class SerialPortCtrlNotOpenTest : public SerialPortCtrlTest, public ::testing::WithParamInterface<NotOpenCase> {};

// The controller shows nothing: the uploader shows one box that names the
// cause the controller reports.
TEST_P(SerialPortCtrlNotOpenTest, ReportsWhyWithoutABox)
{
    const NotOpenCase& c = GetParam();
    fakewin32::Refuse(c.call, c.error);
    WriteConfig("BAUDRATE=4800");  // would show its own box if it were read
    auto ctrl = Make();

    EXPECT_FALSE(ctrl->IsOpen());
    EXPECT_EQ(ctrl->Fault(), c.fault);
    EXPECT_EQ(PortFaultFromError(c.error, PortNameRule{"\\\\.\\", true}), c.windowsFault);
    EXPECT_TRUE(msgbox::Entries().empty());
    EXPECT_EQ(0u, fakewin32::CountCalls("CreateThread"));
    EXPECT_NE(EVENPARITY, fakewin32::Dcb("COM1").Parity);
    EXPECT_TRUE(ctrl->Write("ab", 2));
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, SerialPortCtrlNotOpenTest,
    ::testing::Values(
        NotOpenCase{"NoSuchPort", "CreateFileA", ERROR_FILE_NOT_FOUND, PortFault::notFound, PortFault::notFound},
        NotOpenCase{"NoSuchPath", "CreateFileA", ERROR_PATH_NOT_FOUND, PortFault::notFound, PortFault::notFound},
        NotOpenCase{"AdapterGone", "CreateFileA", ERROR_DEVICE_NOT_CONNECTED, PortFault::notFound, PortFault::notFound},
        NotOpenCase{"HeldElsewhere", "CreateFileA", ERROR_SHARING_VIOLATION, PortFault::busy, PortFault::busy},
        NotOpenCase{"Refused", "CreateFileA", ERROR_ACCESS_DENIED, PortFault::denied, PortFault::busy},
        NotOpenCase{"NotATty", "CreateFileA", ERROR_NOT_SUPPORTED, PortFault::notSerial, PortFault::notSerial},
        NotOpenCase{"NoCommCalls", "CreateFileA", ERROR_INVALID_FUNCTION, PortFault::notSerial, PortFault::notSerial},
        NotOpenCase{"InsertionDenied", "DeviceIoControl", ERROR_ACCESS_DENIED, PortFault::denied, PortFault::busy}),
    [](const auto& info) { return std::string(info.param.label); });

// A refused port names the group whose members may open it: the device's
// group, when the group may read and write it.
TEST_F(SerialPortCtrlTest, TheGroupThatGrantsAccessIsTheDevicesWhenItMayReadAndWrite)
{
    const group* pGroup = getgrgid(getegid());
    ASSERT_NE(nullptr, pGroup);
    const std::string strOwnGroup = pGroup->gr_name;
    WriteConfig("");
    for (const auto& [mode, strGroup] : {std::pair{0660, strOwnGroup}, std::pair{0640, std::string()}}) {
        ASSERT_EQ(0, chmod("UploadConfig.ini", static_cast<mode_t>(mode)));
        EXPECT_EQ(strGroup, PortAccessGroup((m_dir / "UploadConfig.ini").string())) << std::oct << mode;
    }
    EXPECT_EQ("", PortAccessGroup((m_dir / "no-such-device").string()));
}

TEST_F(SerialPortCtrlTest, WriteHandsTheBytesOnAndAlwaysReportsSuccess)
{
    auto ctrl = Make();
    EXPECT_TRUE(ctrl->Write("\x7F\x80\x03", 3));
    fakewin32::Refuse("WriteFile", ERROR_GEN_FAILURE);
    EXPECT_TRUE(ctrl->Write("zz", 2));
    EXPECT_THAT(fakewin32::Written("COM1"), ElementsAre(0x7F, 0x80, 0x03));
}

TEST_F(SerialPortCtrlTest, ReceivedBytesArriveInOrderInBatchesOfOneTo1024)
{
    auto ctrl = Make();
    std::vector<std::uint8_t> sent;
    for (std::size_t size : {1u, 7u, 1024u, 1025u, 3000u, 2u, 4096u}) {
        std::vector<std::uint8_t> chunk(size);
        for (auto& b : chunk)
            b = static_cast<std::uint8_t>(sent.size() * 7 + (&b - chunk.data()));
        fakewin32::Feed("COM1", chunk.data(), chunk.size());
        sent.insert(sent.end(), chunk.begin(), chunk.end());
    }
    m_received.WaitFor(sent.size());
    ctrl.reset();
    EXPECT_EQ(sent, m_received.bytes);
    EXPECT_THAT(m_received.batches, Each(AllOf(Ge(1u), Le(1024u))));
}

// The driver signals EV_RXCHAR once per wait: a burst bigger than one read
// must still be delivered whole, without waiting for a later byte.
TEST_F(SerialPortCtrlTest, ABurstLargerThanOneReadIsDeliveredWhole)
{
    auto ctrl = Make();
    fakewin32::WaitUntilWaitPending("COM1");
    const std::vector<std::uint8_t> burst(3000, 0xA5);
    fakewin32::Feed("COM1", burst.data(), burst.size());
    m_received.WaitFor(burst.size());
    EXPECT_THAT(m_received.batches, ElementsAre(1024u, 1024u, 952u));
}

TEST_F(SerialPortCtrlTest, DestroyingAnIdleControllerEndsTheReaderWithZeroAndClosesThePort)
{
    auto ctrl = Make();
    fakewin32::WaitUntilWaitPending("COM1");
    ctrl.reset();
    EXPECT_THAT(fakewin32::ThreadExitCodes(), ElementsAre(0u));
    EXPECT_FALSE(fakewin32::IsOpen("COM1"));
    EXPECT_EQ(5u, fakewin32::CountCalls("CloseHandle"));  // thread, three events, port
}

TEST_F(SerialPortCtrlTest, TwoControllersKeepTheirOwnCallbacks)
{
    Received other;
    other.tag = 2;
    auto first = Make("COM1");
    auto second = std::make_unique<CSerialPortCtrl>(CollectB, "COM2", &other);
    fakewin32::Feed("COM1", "aaaa", 4);
    fakewin32::Feed("COM2", "bbbbbb", 6);
    m_received.WaitFor(4);
    other.WaitFor(6);
    first.reset();
    second.reset();
    EXPECT_EQ(std::vector<std::uint8_t>(4, 'a'), m_received.bytes);
    EXPECT_EQ(std::vector<std::uint8_t>(6, 'b'), other.bytes);
    EXPECT_FALSE(m_received.bCrossed);
    EXPECT_FALSE(other.bCrossed);
}

// A driver that refuses to arm the next wait ends the reader, and only the
// reader: the controller still counts as open and its writes still go out.
TEST_F(SerialPortCtrlTest, ARefusedReArmEndsTheReaderButNotTheLine)
{
    fakewin32::Refuse("WaitCommEvent", ERROR_GEN_FAILURE, 2, 1);  // the re-arm after the first bytes
    auto ctrl = Make();
    fakewin32::WaitUntilWaitPending("COM1");
    fakewin32::Feed("COM1", "abc", 3);
    m_received.WaitFor(3);
    fakewin32::WaitThreadsEnded(1);
    EXPECT_THAT(fakewin32::ThreadExitCodes(), ElementsAre(0u));
    EXPECT_EQ(fakewin32::CountCalls("WaitCommEvent"), 2u);

    EXPECT_TRUE(ctrl->IsOpen());
    EXPECT_EQ(ctrl->Fault(), PortFault::lost) << "no byte will be read any more";
    EXPECT_TRUE(fakewin32::IsOpen("COM1"));
    EXPECT_TRUE(ctrl->Write("xy", 2));
    EXPECT_THAT(fakewin32::Written("COM1"), ElementsAre('x', 'y'));
    fakewin32::Feed("COM1", "de", 2);
    EXPECT_EQ(fakewin32::Waiting("COM1"), 2u) << "nobody reads any more";
    EXPECT_EQ(m_received.Size(), 3u);

    ctrl.reset();
    EXPECT_FALSE(fakewin32::IsOpen("COM1"));
}

// Stops that meet the reader outside its wait. Each would leave the
// destructor waiting for ever if the stop were missed (ctest's time-out).
TEST_F(SerialPortCtrlTest, AStopBeforeTheReaderSetsItsMaskEndsIt)
{
    fakewin32::HoldCall("SetCommMask", 2);  // the reader's own SetMask(EV_RXCHAR)
    auto ctrl = Make();
    fakewin32::WaitCallHeld("SetCommMask");
    std::thread destroyer([&] { ctrl.reset(); });
    fakewin32::WaitUntilCalled("SetCommMask", 2);  // the opening's and the stop's
    fakewin32::ReleaseCall("SetCommMask");
    destroyer.join();
    EXPECT_THAT(fakewin32::ThreadExitCodes(), ElementsAre(0u));
}

// The reader has checked for a stop and is about to arm its wait when the
// stop clears the mask: the Windows driver then refuses the wait, others let
// it pend on no events. Either way the reader ends, and with exit code 0.
class SerialPortCtrlArmRaceTest : public SerialPortCtrlTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SerialPortCtrlArmRaceTest, AStopJustBeforeTheReaderArmsEndsIt)
{
    fakewin32::PendOnEmptyMask(GetParam());
    fakewin32::HoldCall("WaitCommEvent", 1);
    auto ctrl = Make();
    fakewin32::WaitCallHeld("WaitCommEvent");
    std::thread destroyer([&] { ctrl.reset(); });
    fakewin32::WaitUntilCalled("SetCommMask", 3);  // opening, reader, stop
    fakewin32::ReleaseCall("WaitCommEvent");
    destroyer.join();
    EXPECT_THAT(fakewin32::ThreadExitCodes(), ElementsAre(0u));
}

INSTANTIATE_TEST_SUITE_P(Drivers, SerialPortCtrlArmRaceTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "WaitPends" : "WaitRefused"; });

std::mutex g_gateMutex;
std::condition_variable g_gateChanged;
bool g_bInCallback = false;
bool g_bRelease = false;

void BlockingCallback(const std::uint8_t*, std::uint32_t, void*)
{
    std::unique_lock lock(g_gateMutex);
    g_bInCallback = true;
    g_gateChanged.notify_all();
    g_gateChanged.wait(lock, [] { return g_bRelease; });
}

TEST_F(SerialPortCtrlTest, AStopDuringTheCallbackEndsTheReader)
{
    g_bInCallback = g_bRelease = false;
    auto ctrl = std::make_unique<CSerialPortCtrl>(BlockingCallback, "COM1", nullptr);
    fakewin32::Feed("COM1", "x", 1);
    {
        std::unique_lock lock(g_gateMutex);
        g_gateChanged.wait(lock, [] { return g_bInCallback; });
    }
    std::thread destroyer([&] { ctrl.reset(); });
    fakewin32::WaitUntilCalled("SetCommMask", 3);  // opening, reader, stop
    {
        std::lock_guard lock(g_gateMutex);
        g_bRelease = true;
    }
    g_gateChanged.notify_all();
    destroyer.join();
    EXPECT_THAT(fakewin32::ThreadExitCodes(), ElementsAre(0u));
}

TEST_F(SerialPortCtrlTest, ManyCreateDestroyCyclesWhileBytesStreamIn)
{
    constexpr int kCycles = 300;
    fakewin32::SetRecording(false);
    std::atomic<bool> bStop{false};
    std::thread feeder([&] {
        std::uint8_t chunk[97] = {};
        while (!bStop.load()) {
            fakewin32::Feed("COM1", chunk, sizeof(chunk));
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < kCycles; ++i) {
        auto ctrl = Make();
        ASSERT_TRUE(ctrl->IsOpen());
        if (i % 3 == 1)
            m_received.WaitFor(m_received.Size() + 1);  // stop while bytes are being delivered
        ctrl.reset();                                   // i % 3 == 0: stop before the reader is under way
    }
    bStop.store(true);
    feeder.join();
    const auto codes = fakewin32::ThreadExitCodes();
    EXPECT_EQ(static_cast<std::size_t>(kCycles), codes.size());
    EXPECT_THAT(codes, Each(0u));
    EXPECT_THAT(m_received.batches, Each(AllOf(Ge(1u), Le(1024u))));
}

}  // namespace
