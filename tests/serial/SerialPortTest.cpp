// CSerialPort on the fake driver: what reaches the Win32 calls, in what order,
// and what the object makes of the answers.
#include "serial/PortName.h"
#include "serial/ReaderThread.h"
#include "serial/SerialPort.h"
#include "serial/SerialPortCtrl.h"
#include "tests/fakes/FakeWin32.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override { fakewin32::Reset(); }
    void TearDown() override { fakewin32::Reset(); }

    static std::vector<fakewin32::Call> CallsNamed(const std::string& name)
    {
        std::vector<fakewin32::Call> out;
        for (const auto& call : fakewin32::Calls())
            if (call.name == name)
                out.push_back(call);
        return out;
    }
    static std::vector<std::uint64_t> ArgsOfLast(const std::string& name) { return CallsNamed(name).back().args; }
};

// A DCB whose every field differs from what the setters write, so a field a
// setter should keep shows up if it is lost.
DCB OddDcb()
{
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = 4800;
    dcb.fBinary = 0;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 1;
    dcb.fOutxDsrFlow = 1;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = 1;
    dcb.fTXContinueOnXoff = 1;
    dcb.fOutX = 1;
    dcb.fInX = 1;
    dcb.fErrorChar = 1;
    dcb.fNull = 1;
    dcb.fRtsControl = RTS_CONTROL_TOGGLE;
    dcb.fAbortOnError = 1;
    dcb.XonLim = 7;
    dcb.XoffLim = 9;
    dcb.ByteSize = 7;
    dcb.Parity = MARKPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.XonChar = 'a';
    dcb.XoffChar = 'b';
    dcb.ErrorChar = '?';
    dcb.EofChar = 0x1A;
    dcb.EvtChar = '\n';
    return dcb;
}

bool SameDcb(const DCB& a, const DCB& b) { return std::memcmp(&a, &b, sizeof(DCB)) == 0; }

TEST_F(SerialPortTest, OpensWithTheDefaultsInOrder)
{
    CSerialPort port("COM1");

    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(0u, port.m_dwLastError.load());
    EXPECT_THAT(fakewin32::CallNames(),
                ElementsAre("CreateFileA", "CreateEventA", "CreateEventA", "CreateEventA", "GetCommState",
                            "GetCommState", "SetCommState", "GetCommState", "SetCommState", "GetCommState",
                            "SetCommState", "SetupComm", "GetCommTimeouts", "SetCommTimeouts", "GetCommTimeouts",
                            "SetCommTimeouts", "DeviceIoControl", "SetCommMask", "PurgeComm"));
    const auto open = CallsNamed("CreateFileA").front();
    EXPECT_EQ("COM1", open.text);
    EXPECT_THAT(open.args, ElementsAre(GENERIC_READ | GENERIC_WRITE, 0u, OPEN_EXISTING,
                                       FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL));
    for (const auto& event : CallsNamed("CreateEventA"))
        EXPECT_THAT(event.args, ElementsAre(1u, 0u, 0u));  // manual reset, not signalled, unnamed
    const auto ioctl = CallsNamed("DeviceIoControl").front();
    EXPECT_THAT(ioctl.args, ElementsAre(0x1B007Cu, 1u, 0u, 0u, 0u));
    EXPECT_THAT(ioctl.bytes, ElementsAre(0u));
    EXPECT_THAT(ArgsOfLast("SetupComm"), ElementsAre(4096u, 4096u));
    EXPECT_THAT(ArgsOfLast("SetCommMask"), ElementsAre(EV_RXCHAR));
    EXPECT_THAT(ArgsOfLast("PurgeComm"), ElementsAre(kPurgeAll));

    const DCB dcb = fakewin32::Dcb("COM1");
    EXPECT_EQ(19200u, dcb.BaudRate);
    EXPECT_EQ(NOPARITY, dcb.Parity);
    EXPECT_EQ(8, dcb.ByteSize);
    EXPECT_EQ(ONESTOPBIT, dcb.StopBits);
    EXPECT_EQ(1u, dcb.fParity);
    EXPECT_EQ(1u, dcb.fOutxDsrFlow);
    EXPECT_EQ(static_cast<DWORD>(DTR_CONTROL_HANDSHAKE), dcb.fDtrControl);
    EXPECT_EQ(1u, dcb.fOutxCtsFlow);
    EXPECT_EQ(static_cast<DWORD>(RTS_CONTROL_HANDSHAKE), dcb.fRtsControl);
    EXPECT_EQ(0u, dcb.fOutX + dcb.fInX + dcb.fNull);
    EXPECT_EQ(1u, dcb.fBinary);
    EXPECT_EQ(100, dcb.XonLim);
    EXPECT_EQ(100, dcb.XoffLim);
    EXPECT_EQ(0x11, dcb.XonChar);
    EXPECT_EQ(0x13, dcb.XoffChar);
    for (const auto& get : CallsNamed("SetCommState"))
        EXPECT_EQ(sizeof(DCB), get.dcb.DCBlength);
    const COMMTIMEOUTS t = fakewin32::Timeouts("COM1");
    EXPECT_EQ(MAXDWORD, t.ReadIntervalTimeout);
    EXPECT_EQ(0u, t.ReadTotalTimeoutMultiplier + t.ReadTotalTimeoutConstant + t.WriteTotalTimeoutMultiplier);
    EXPECT_EQ(1000u, t.WriteTotalTimeoutConstant);
}

// The line goes back as it was found (a port may be someone else's device,
// set up for them), then the events and the port are closed.
TEST_F(SerialPortTest, DestructorPurgesPutsTheLineBackAndClosesEventsThenPort)
{
    fakewin32::SetDcb("COM1", OddDcb());
    auto port = std::make_unique<CSerialPort>("COM1");
    ASSERT_FALSE(SameDcb(fakewin32::Dcb("COM1"), OddDcb()));
    const std::vector<HANDLE> expected{port->m_ovRead.hEvent, port->m_ovWrite.hEvent, port->m_ovWait.hEvent,
                                       port->m_hComm};
    fakewin32::ClearCalls();
    port.reset();

    EXPECT_THAT(fakewin32::CallNames(),
                ElementsAre("PurgeComm", "SetCommState", "CloseHandle", "CloseHandle", "CloseHandle", "CloseHandle"));
    const auto restored = CallsNamed("SetCommState");
    ASSERT_EQ(1u, restored.size());
    EXPECT_TRUE(SameDcb(restored[0].dcb, OddDcb()));
    EXPECT_THAT(ArgsOfLast("PurgeComm"), ElementsAre(kPurgeAll));
    std::vector<HANDLE> closed;
    for (const auto& call : CallsNamed("CloseHandle"))
        closed.push_back(call.handle);
    EXPECT_EQ(expected, closed);
    EXPECT_FALSE(fakewin32::IsOpen("COM1"));
}

struct OpenCase {
    const char* label;
    const char* call;
    int nth;
    DWORD error;
    bool bOpen;
    DWORD dwLastError;
    std::size_t nClosed;  // CloseHandle calls made by the destructor
    bool bDefaultsApplied;
};

class SerialPortOpenTest : public SerialPortTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(SerialPortOpenTest, OutcomeOfARefusal)
{
    const OpenCase& c = GetParam();
    fakewin32::Refuse(c.call, c.error, c.nth, 1);
    auto port = std::make_unique<CSerialPort>("COM1");

    EXPECT_EQ(c.bOpen, port->IsOpen() != FALSE);
    EXPECT_EQ(c.dwLastError, port->m_dwLastError.load());
    EXPECT_EQ(c.bDefaultsApplied, fakewin32::CountCalls("PurgeComm") == 1);
    EXPECT_EQ(c.bDefaultsApplied ? 19200u : 9600u, fakewin32::Dcb("COM1").BaudRate);
    fakewin32::ClearCalls();
    port.reset();
    EXPECT_EQ(c.nClosed, fakewin32::CountCalls("CloseHandle"));
    EXPECT_EQ(0u, fakewin32::CountCalls("SetCommMask"));  // no thread to stop
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, SerialPortOpenTest,
    ::testing::Values(
        OpenCase{"NoSuchPort", "CreateFileA", 1, ERROR_FILE_NOT_FOUND, false, ERROR_FILE_NOT_FOUND, 0, false},
        OpenCase{"FirstEventMissing", "CreateEventA", 1, ERROR_NOT_ENOUGH_MEMORY, false, ERROR_NOT_ENOUGH_MEMORY, 1,
                 false},
        OpenCase{"SecondEventMissing", "CreateEventA", 2, ERROR_NOT_ENOUGH_MEMORY, false, ERROR_NOT_ENOUGH_MEMORY, 2,
                 false},
        OpenCase{"ThirdEventMissing", "CreateEventA", 3, ERROR_NOT_ENOUGH_MEMORY, false, ERROR_NOT_ENOUGH_MEMORY, 3,
                 false},
        // A driver without status-byte insertion inserts none, which is what we ask for.
        OpenCase{"InsertionInvalidParameter", "DeviceIoControl", 1, ERROR_INVALID_PARAMETER, true, 0, 4, true},
        OpenCase{"InsertionNotSupported", "DeviceIoControl", 1, ERROR_NOT_SUPPORTED, true, 0, 4, true},
        OpenCase{"InsertionInvalidFunction", "DeviceIoControl", 1, ERROR_INVALID_FUNCTION, true, 0, 4, true},
        OpenCase{"InsertionAccessDenied", "DeviceIoControl", 1, ERROR_ACCESS_DENIED, false, ERROR_ACCESS_DENIED, 4,
                 true},
        OpenCase{"InsertionGeneralFailure", "DeviceIoControl", 1, ERROR_GEN_FAILURE, false, ERROR_GEN_FAILURE, 4, true},
        OpenCase{"QueueSizeRefused", "SetupComm", 1, ERROR_INVALID_PARAMETER, true, 0, 4, true},
        OpenCase{"TimeoutsRefused", "SetCommTimeouts", 1, ERROR_GEN_FAILURE, true, 0, 4, true}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(SerialPortTest, APortHeldOpenElsewhereDoesNotOpen)
{
    CSerialPort first("COM1");
    CSerialPort second("COM1");
    EXPECT_TRUE(first.IsOpen());
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(ERROR_ACCESS_DENIED, second.m_dwLastError.load());
}

TEST_F(SerialPortTest, ReadAndWriteOnAPortThatNeverOpenedMakeNoCall)
{
    fakewin32::Refuse("CreateFileA", ERROR_FILE_NOT_FOUND);
    CSerialPort port("COM1");
    fakewin32::ClearCalls();
    char buffer[8] = "abc";
    EXPECT_EQ(0u, port.Read(buffer, 8, TRUE));
    EXPECT_EQ(0u, port.Write(buffer, 3));
    EXPECT_TRUE(fakewin32::Calls().empty());
}

struct ReadCase {
    const char* label;
    std::size_t nWaiting;
    int nCount;
    BOOL bWaitAll;
    int nReadFileCount;  // -1: no ReadFile
    DWORD dwResult;
};

class SerialPortReadTest : public SerialPortTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(SerialPortReadTest, AsksOnlyForWhatIsWaiting)
{
    const ReadCase& c = GetParam();
    CSerialPort port("COM1");
    const std::vector<std::uint8_t> bytes(c.nWaiting, 0x5A);
    fakewin32::Feed("COM1", bytes.data(), bytes.size());
    fakewin32::ClearCalls();
    std::vector<std::uint8_t> buffer(256, 0);

    EXPECT_EQ(c.dwResult, port.Read(buffer.data(), c.nCount, c.bWaitAll));
    const auto reads = CallsNamed("ReadFile");
    EXPECT_EQ(fakewin32::CallNames().front(), "ClearCommError");
    if (c.nReadFileCount < 0) {
        EXPECT_TRUE(reads.empty());
    }
    else {
        ASSERT_EQ(1u, reads.size());
        EXPECT_THAT(reads[0].args, ElementsAre(static_cast<std::uint64_t>(c.nReadFileCount)));
        EXPECT_EQ(&port.m_ovRead, reads[0].overlapped);
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, SerialPortReadTest,
                         ::testing::Values(ReadCase{"ClippedToWaiting", 10, 100, FALSE, 10, 10},
                                           ReadCase{"FewerThanWaiting", 10, 4, FALSE, 4, 4},
                                           ReadCase{"NothingWaiting", 0, 100, FALSE, -1, 0},
                                           ReadCase{"WaitAllAsksForAll", 3, 100, TRUE, 100, 3},
                                           ReadCase{"WaitAllNothingWaiting", 0, 100, TRUE, 100, 0},
                                           ReadCase{"ZeroCount", 10, 0, TRUE, -1, 0},
                                           ReadCase{"NegativeCount", 10, -5, TRUE, -1, 0}),
                         [](const auto& info) { return std::string(info.param.label); });

struct TransferCase {
    const char* label;
    bool bWrite;
    DWORD dwTransferError;  // the ReadFile/WriteFile refusal (997: goes pending)
    DWORD dwResultError;    // GetOverlappedResult refusal, 0 for none
    int nResultRefusals;
    std::vector<std::string> after;  // calls after the transfer call
    DWORD dwResult;
    DWORD dwLastError;
};

class SerialPortTransferTest : public SerialPortTest, public ::testing::WithParamInterface<TransferCase> {};

TEST_P(SerialPortTransferTest, CompletionPaths)
{
    const TransferCase& c = GetParam();
    CSerialPort port("COM1");
    const char bytes[5] = {1, 2, 3, 4, 5};
    fakewin32::Feed("COM1", bytes, sizeof(bytes));
    const char* transfer = c.bWrite ? "WriteFile" : "ReadFile";
    fakewin32::Refuse(transfer, c.dwTransferError, 1, 1);
    if (c.dwResultError)
        fakewin32::Refuse("GetOverlappedResult", c.dwResultError, 1, c.nResultRefusals);
    fakewin32::ClearCalls();
    char buffer[16];

    const DWORD dwResult = c.bWrite ? port.Write(bytes, 5) : port.Read(buffer, 16, FALSE);
    EXPECT_EQ(c.dwResult, dwResult);
    EXPECT_EQ(c.dwLastError, port.m_dwLastError.load());
    auto names = fakewin32::CallNames();
    const auto it = std::find(names.begin(), names.end(), transfer);
    ASSERT_NE(names.end(), it);
    EXPECT_THAT(std::vector<std::string>(it + 1, names.end()), ElementsAreArray(c.after));
}

const std::vector<std::string> kOneResult{"GetOverlappedResult"};
const std::vector<std::string> kThreeResults{"GetOverlappedResult", "GetOverlappedResult", "GetOverlappedResult"};
const std::vector<std::string> kResultThenClear{"GetOverlappedResult", "ClearCommError"};
const std::vector<std::string> kClear{"ClearCommError"};

INSTANTIATE_TEST_SUITE_P(
    Paths, SerialPortTransferTest,
    ::testing::Values(TransferCase{"ReadPending", false, ERROR_IO_PENDING, 0, 0, kOneResult, 5, ERROR_IO_PENDING},
                      TransferCase{"ReadIncompleteTwice", false, ERROR_IO_PENDING, ERROR_IO_INCOMPLETE, 2,
                                   kThreeResults, 5, ERROR_IO_INCOMPLETE},
                      TransferCase{"ReadResultFails", false, ERROR_IO_PENDING, ERROR_GEN_FAILURE, 1, kResultThenClear,
                                   0, ERROR_GEN_FAILURE},
                      TransferCase{"ReadFails", false, ERROR_GEN_FAILURE, 0, 0, kClear, 0, ERROR_GEN_FAILURE},
                      TransferCase{"WritePending", true, ERROR_IO_PENDING, 0, 0, kOneResult, 5, ERROR_IO_PENDING},
                      TransferCase{"WriteIncompleteTwice", true, ERROR_IO_PENDING, ERROR_IO_INCOMPLETE, 2,
                                   kThreeResults, 5, ERROR_IO_INCOMPLETE},
                      TransferCase{"WriteResultFails", true, ERROR_IO_PENDING, ERROR_COUNTER_TIMEOUT, 1,
                                   kResultThenClear, 0, ERROR_COUNTER_TIMEOUT},
                      TransferCase{"WriteFails", true, ERROR_GEN_FAILURE, 0, 0, kClear, 0, ERROR_GEN_FAILURE}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(SerialPortTest, WriteHandsOverTheWholeCountButNeverANegativeOne)
{
    CSerialPort port("COM1");
    fakewin32::ClearCalls();
    EXPECT_EQ(3u, port.Write("abc", 3));
    EXPECT_EQ(0u, port.Write("abc", 0));
    EXPECT_EQ(0u, port.Write("abc", -1));
    const auto writes = CallsNamed("WriteFile");
    ASSERT_EQ(2u, writes.size());
    EXPECT_THAT(writes[0].args, ElementsAre(3u));
    EXPECT_THAT(writes[1].args, ElementsAre(0u));
    EXPECT_EQ(&port.m_ovWrite, writes[0].overlapped);
    EXPECT_THAT(fakewin32::Written("COM1"), ElementsAre('a', 'b', 'c'));
}

TEST_F(SerialPortTest, EventWaitEndsWithTheEventsOrWithAChangedMask)
{
    CSerialPort port("COM1");
    ASSERT_TRUE(port.BeginWaitEvent());
    EXPECT_EQ(ERROR_IO_PENDING, port.m_dwLastError.load());
    EXPECT_EQ(0u, port.EndWaitEvent(FALSE));  // still pending
    fakewin32::Feed("COM1", "x", 1);
    EXPECT_EQ(EV_RXCHAR, port.EndWaitEvent(TRUE));

    ASSERT_TRUE(port.BeginWaitEvent());
    std::thread other([&] { port.SetMask(0); });
    EXPECT_EQ(0u, port.EndWaitEvent(TRUE));
    other.join();
}

TEST_F(SerialPortTest, AFailedWaitIsReArmed)
{
    CSerialPort port("COM1");
    ASSERT_TRUE(port.BeginWaitEvent());
    fakewin32::Refuse("GetOverlappedResult", ERROR_GEN_FAILURE, 1, 1);
    fakewin32::ClearCalls();
    // The failed result leaves the first wait pending in the fake; end it so
    // the re-arm is accepted.
    fakewin32::Feed("COM1", "x", 1);
    EXPECT_EQ(0u, port.EndWaitEvent(TRUE));
    EXPECT_THAT(fakewin32::CallNames(), ElementsAre("GetOverlappedResult", "ClearCommError", "WaitCommEvent"));
}

TEST_F(SerialPortTest, ARefusedWaitReportsItsError)
{
    CSerialPort port("COM1");
    fakewin32::Refuse("WaitCommEvent", ERROR_GEN_FAILURE);
    EXPECT_FALSE(port.BeginWaitEvent());
    EXPECT_EQ(ERROR_GEN_FAILURE, port.m_dwLastError.load());
}

TEST_F(SerialPortTest, StopThreadWithoutAThreadMakesNoCall)
{
    CSerialPort port("COM1");
    fakewin32::ClearCalls();
    EXPECT_EQ(0u, port.StopThread());
    EXPECT_EQ(0u, port.StopThread());
    EXPECT_TRUE(fakewin32::Calls().empty());
}

std::atomic<void*> g_pSeenParam{nullptr};

DWORD WINAPI RecordParam(LPVOID pParam)
{
    g_pSeenParam.store(pParam);
    return 7;
}

TEST_F(SerialPortTest, ThreadSlotStartsOnceAndStopReturnsTheExitCode)
{
    CSerialPort port("COM1");
    ReaderThreadParams params{&port, nullptr, nullptr, nullptr, {0}};
    ASSERT_TRUE(port.StartThread(ReaderThreadProc, &params));
    const HANDLE hThread = port.m_hThread;
    EXPECT_FALSE(port.StartThread(ReaderThreadProc, &params));
    EXPECT_EQ(ERROR_ALREADY_EXISTS, port.m_dwLastError.load());
    EXPECT_EQ(hThread, port.m_hThread);
    EXPECT_EQ(1u, fakewin32::CountCalls("CreateThread"));

    fakewin32::WaitUntilWaitPending("COM1");
    fakewin32::ClearCalls();
    EXPECT_EQ(0u, port.StopThread());
    EXPECT_THAT(ArgsOfLast("SetCommMask"), ElementsAre(0u));
    EXPECT_EQ(nullptr, port.m_hThread);
    EXPECT_EQ(0u, port.m_dwThreadId);

    // A NULL parameter becomes the port itself.
    ASSERT_TRUE(port.StartThread(RecordParam, nullptr));
    EXPECT_EQ(7u, port.StopThread());
    EXPECT_EQ(&port, g_pSeenParam.load());
}

TEST_F(SerialPortTest, ARefusedThreadIsReported)
{
    CSerialPort port("COM1");
    fakewin32::Refuse("CreateThread", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_FALSE(port.StartThread(RecordParam, nullptr));
    EXPECT_EQ(ERROR_NOT_ENOUGH_MEMORY, port.m_dwLastError.load());
    EXPECT_EQ(nullptr, port.m_hThread);
}

TEST_F(SerialPortTest, ReaderEndsWithMinusOneWhenItsFirstWaitIsRefused)
{
    CSerialPort port("COM1");
    fakewin32::Refuse("WaitCommEvent", ERROR_GEN_FAILURE);
    ReaderThreadParams params{&port, nullptr, nullptr, nullptr, {0}};
    ASSERT_TRUE(port.StartThread(ReaderThreadProc, &params));
    fakewin32::WaitThreadsEnded(1);
    EXPECT_EQ(0xFFFFFFFFu, port.StopThread());
}

// The line's error counts. Each flag a ClearCommError answer carries counts
// one error, whichever call asked (a read, or the thin wrapper); a driver
// that keeps counts of its own raises a count to its own where that is
// higher, and never lowers one.
struct LineErrorCase {
    const char* label;
    std::vector<DWORD> flags;  // ClearCommError's answer to each read, in turn
    bool bThinWrapper;         // asked through ClearError instead of Read
    bool bDriverCounts;
    SERIALPERF_STATS stats;             // received, sent, framing, overrun, queue overrun, parity
    std::vector<std::uint32_t> counts;  // parity, framing, overrun
};

class SerialPortLineErrorTest : public SerialPortTest, public ::testing::WithParamInterface<LineErrorCase> {};

TEST_P(SerialPortLineErrorTest, CountsEachFlagAndTheDriversOwnCounts)
{
    const LineErrorCase& c = GetParam();
    CSerialPort port("COM1");
    if (c.bDriverCounts)
        fakewin32::SetDriverCounts("COM1", c.stats);
    for (DWORD dwFlags : c.flags) {
        fakewin32::SetLineErrors("COM1", dwFlags);
        const std::uint8_t byte = 0x42;
        fakewin32::Feed("COM1", &byte, 1);
        std::uint8_t buffer[4];
        if (c.bThinWrapper)
            ASSERT_TRUE(port.ClearError(nullptr, nullptr));
        else
            ASSERT_EQ(port.Read(buffer, 4, FALSE), 1u);
    }
    fakewin32::ClearCalls();
    port.m_dwLastError.store(1234);
    const LineErrorCounts counts = port.LineErrors();
    EXPECT_EQ((std::vector<std::uint32_t>{counts.dwParity, counts.dwFraming, counts.dwOverrun}), c.counts);
    EXPECT_EQ(port.m_dwLastError.load(), 1234u) << "IsOpen must not change";
    const auto ioctls = CallsNamed("DeviceIoControl");
    ASSERT_EQ(ioctls.size(), 1u);
    EXPECT_THAT(ioctls[0].args, ElementsAre(IOCTL_SERIAL_GET_STATS, 0u, sizeof(SERIALPERF_STATS), 1u, 1u));
}

INSTANTIATE_TEST_SUITE_P(
    Flags, SerialPortLineErrorTest,
    ::testing::Values(
        LineErrorCase{"None", {0, 0}, false, false, {}, {0, 0, 0}},
        LineErrorCase{"EachFlagOnce", {CE_RXPARITY, CE_FRAME, CE_OVERRUN, CE_RXOVER}, false, false, {}, {1, 1, 2}},
        LineErrorCase{"AllInOneAnswer", {CE_RXPARITY | CE_FRAME | CE_OVERRUN | CE_RXOVER}, false, false, {}, {1, 1, 2}},
        LineErrorCase{"ParityAtThreeReads", {CE_RXPARITY, 0, CE_RXPARITY, CE_RXPARITY}, false, false, {}, {3, 0, 0}},
        LineErrorCase{"BreakAndFullOutputAreNoLineErrors", {CE_BREAK, CE_TXFULL}, false, false, {}, {0, 0, 0}},
        LineErrorCase{"ThroughTheThinWrapper", {CE_FRAME, CE_FRAME}, true, false, {}, {0, 2, 0}},
        LineErrorCase{"DriverCountsHigher", {CE_RXPARITY}, false, true, {900, 11, 2, 1, 1, 7}, {7, 2, 2}},
        LineErrorCase{
            "DriverCountsLower", {CE_RXPARITY, CE_RXPARITY, CE_FRAME}, false, true, {900, 11, 0, 0, 0, 1}, {2, 1, 0}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(SerialPortTest, APortThatDidNotOpenCountsNothingAndAsksNothing)
{
    fakewin32::Refuse("CreateFileA", ERROR_FILE_NOT_FOUND);
    CSerialPort port("COM1");
    fakewin32::ClearCalls();
    const LineErrorCounts counts = port.LineErrors();
    EXPECT_EQ(counts.Total(), 0u);
    EXPECT_TRUE(fakewin32::Calls().empty());
}

struct EscapeCase {
    const char* label;
    DWORD dwFlow;  // SetFlowControl flags, or kRaw to use the raw DTR/RTS below
    DWORD dwDtr;
    DWORD dwRts;
    DWORD dwFunction;
    bool bPasses;
};

constexpr DWORD kRaw = 0xFFFFFFFF;

class SerialPortEscapeTest : public SerialPortTest, public ::testing::WithParamInterface<EscapeCase> {};

TEST_P(SerialPortEscapeTest, RefusedWhileTheDriverOwnsTheLines)
{
    const EscapeCase& c = GetParam();
    CSerialPort port("COM1");
    if (c.dwFlow == kRaw) {
        DCB dcb = fakewin32::Dcb("COM1");
        dcb.fDtrControl = c.dwDtr;
        dcb.fRtsControl = c.dwRts;
        fakewin32::SetDcb("COM1", dcb);
    }
    else {
        port.SetFlowControl(c.dwFlow, 100, 100, 0x11, 0x13);
    }
    fakewin32::ClearCalls();

    EXPECT_EQ(c.bPasses, port.EscapeFunction(c.dwFunction) != FALSE);
    EXPECT_EQ(0u, port.m_dwLastError.load());
    EXPECT_EQ(c.bPasses ? 1u : 0u, fakewin32::CountCalls("EscapeCommFunction"));
    EXPECT_EQ(1u, fakewin32::CountCalls("GetCommState"));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SerialPortEscapeTest,
    ::testing::Values(EscapeCase{"HandshakeSetDtr", FLOW_DSRDTR | FLOW_CTSRTS, 0, 0, SETDTR, false},
                      EscapeCase{"HandshakeSetBreak", FLOW_DSRDTR | FLOW_CTSRTS, 0, 0, SETBREAK, true},
                      EscapeCase{"EnabledSetDtr", 0, 0, 0, SETDTR, false},
                      EscapeCase{"EnabledClrBreak", 0, 0, 0, CLRBREAK, false},
                      EscapeCase{"EnabledSetBreak", 0, 0, 0, SETBREAK, true},
                      EscapeCase{"LinesFreeSetDtr", kRaw, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, SETDTR, true},
                      EscapeCase{"DtrEnabledSetRts", kRaw, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE, SETRTS, true},
                      EscapeCase{"DtrHandshakeSetRts", kRaw, DTR_CONTROL_HANDSHAKE, RTS_CONTROL_DISABLE, SETRTS,
                                 false}),
    [](const auto& info) { return std::string(info.param.label); });

struct FlowCase {
    const char* label;
    DWORD dwFlags;
    bool bDsrDtr;
    bool bCtsRts;
    bool bXonXoff;
};

class SerialPortFlowTest : public SerialPortTest, public ::testing::WithParamInterface<FlowCase> {};

TEST_P(SerialPortFlowTest, ChangesOnlyTheHandshakeFields)
{
    const FlowCase& c = GetParam();
    CSerialPort port("COM1");
    fakewin32::SetDcb("COM1", OddDcb());
    ASSERT_TRUE(port.SetFlowControl(c.dwFlags, 300, 200, 0x21, 0x22));

    DCB expected = OddDcb();
    expected.fOutxDsrFlow = c.bDsrDtr;
    expected.fDtrControl = c.bDsrDtr ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
    expected.fOutxCtsFlow = c.bCtsRts;
    expected.fRtsControl = c.bCtsRts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    expected.fOutX = c.bXonXoff;
    expected.fInX = c.bXonXoff;
    expected.fBinary = 1;
    expected.fNull = 0;
    expected.XonLim = 300;
    expected.XoffLim = 200;
    expected.XonChar = 0x21;
    expected.XoffChar = 0x22;
    EXPECT_TRUE(SameDcb(expected, fakewin32::Dcb("COM1")));
}

INSTANTIATE_TEST_SUITE_P(Flags, SerialPortFlowTest,
                         ::testing::Values(FlowCase{"Hardware", FLOW_DSRDTR | FLOW_CTSRTS, true, true, false},
                                           FlowCase{"None", 0, false, false, false},
                                           FlowCase{"Bit04Ignored", 0x04, false, false, false},
                                           FlowCase{"Bit08Ignored", 0x08, false, false, false},
                                           FlowCase{"Bits0COnly", 0x0C, false, false, false},
                                           FlowCase{"DsrDtrOnly", FLOW_DSRDTR, true, false, false},
                                           FlowCase{"XonXoff", FLOW_XONXOFF, false, false, true},
                                           FlowCase{"AllBits", 0xFFFFFFFF, true, true, true}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(SerialPortTest, BaudRateAndLineFormatKeepEveryOtherField)
{
    CSerialPort port("COM1");
    fakewin32::SetDcb("COM1", OddDcb());
    ASSERT_TRUE(port.SetBaudRate(38400));
    DCB expected = OddDcb();
    expected.BaudRate = 38400;
    EXPECT_TRUE(SameDcb(expected, fakewin32::Dcb("COM1")));

    ASSERT_TRUE(port.SetLineFormat(NOPARITY, 8, ONESTOPBIT));
    expected.Parity = NOPARITY;
    expected.ByteSize = 8;
    expected.StopBits = ONESTOPBIT;
    expected.fParity = 1;  // on whatever the parity
    EXPECT_TRUE(SameDcb(expected, fakewin32::Dcb("COM1")));
}

TEST_F(SerialPortTest, TimeoutSettersKeepTheOtherHalf)
{
    CSerialPort port("COM1");
    fakewin32::SetTimeouts("COM1", COMMTIMEOUTS{1, 2, 3, 4, 5});
    ASSERT_TRUE(port.SetReadTimeouts(10, 20, 30));
    COMMTIMEOUTS t = fakewin32::Timeouts("COM1");
    EXPECT_EQ((std::vector<DWORD>{10, 20, 30, 4, 5}),
              (std::vector<DWORD>{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                                  t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant}));
    ASSERT_TRUE(port.SetWriteTimeouts(40, 50));
    t = fakewin32::Timeouts("COM1");
    EXPECT_EQ((std::vector<DWORD>{10, 20, 30, 40, 50}),
              (std::vector<DWORD>{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                                  t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant}));
}

TEST_F(SerialPortTest, ASetterWhoseReadFailsWritesNothing)
{
    CSerialPort port("COM1");
    fakewin32::Refuse("GetCommState", ERROR_GEN_FAILURE);
    fakewin32::Refuse("GetCommTimeouts", ERROR_GEN_FAILURE);
    fakewin32::ClearCalls();
    EXPECT_FALSE(port.SetBaudRate(9600));
    EXPECT_EQ(ERROR_GEN_FAILURE, port.m_dwLastError.load());
    EXPECT_FALSE(port.SetWriteTimeouts(0, 1));
    EXPECT_EQ(0u, fakewin32::CountCalls("SetCommState") + fakewin32::CountCalls("SetCommTimeouts"));
}

struct NameCase {
    const char* typed;
    const char* windows;  // what CreateFileA gets under the Windows rule
};

class PortNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(PortNameTest, BareNamesGoToTheDeviceNamespaceOnWindowsOnly)
{
    const NameCase& c = GetParam();
    EXPECT_EQ(c.windows, PortDevicePath(c.typed, PortNameRule{"\\\\.\\", true}));
    EXPECT_EQ(c.typed, PortDevicePath(c.typed, PortNameRule{"", false}));
    EXPECT_EQ(c.typed, PortDevicePath(c.typed, PortNameRule{nullptr, false}));
}

INSTANTIATE_TEST_SUITE_P(Names, PortNameTest,
                         ::testing::Values(NameCase{"COM1", "\\\\.\\COM1"}, NameCase{"COM10", "\\\\.\\COM10"},
                                           NameCase{"COM255", "\\\\.\\COM255"},
                                           NameCase{"\\\\.\\COM12", "\\\\.\\COM12"},
                                           NameCase{"/dev/ttyUSB0", "/dev/ttyUSB0"}, NameCase{"COM3:", "COM3:"},
                                           NameCase{"", "\\\\.\\"}));

TEST_F(SerialPortTest, ThisPlatformOpensTheNameAsTyped)
{
    CSerialPort port("COM12");
    EXPECT_EQ("COM12", CallsNamed("CreateFileA").front().text);
}

}  // namespace
