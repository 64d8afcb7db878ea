// Opening, reads and writes, purge, modem calls and argument checks of the
// POSIX serial driver against a pty.
#include "PtyPort.h"
#include "tests/fakes/TempFolder.h"
#include "tests/fakes/WireVectors.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstdio>
#include <filesystem>
#include <functional>

namespace {

void UseReturnAtOnceTimeouts(HANDLE h, DWORD writeConstant = 1000)
{
    COMMTIMEOUTS t{MAXDWORD, 0, 0, 0, writeConstant};
    ASSERT_TRUE(SetCommTimeouts(h, &t));
}

HANDLE Open(const char* path)
{
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

TEST_F(PtyPortTest, SecondOpenIsRefusedUntilTheFirstCloses)
{
    SetLastError(0);
    EXPECT_EQ(Open(m_path.c_str()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    ASSERT_TRUE(CloseHandle(m_hComm));
    m_hComm = Open(m_path.c_str());
    EXPECT_NE(m_hComm, INVALID_HANDLE_VALUE);
}

TEST(PortOpen, FailsWithWindowsCodes)
{
    const std::string folder = MakeTempFolder("tcc-port-open");
    ASSERT_FALSE(folder.empty());
    const std::string fifo = folder + "/fifo", sock = folder + "/sock";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", sock.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    struct {
        std::string path;
        DWORD error;
    } const cases[] = {
        {"/dev/no-such-serial-device", ERROR_FILE_NOT_FOUND},
        {"/no-such-dir/ttyS0", ERROR_FILE_NOT_FOUND},
        // Not a tty, whatever it is: a device, a folder, a FIFO, a socket.
        {"/dev/null", ERROR_NOT_SUPPORTED},
        {folder, ERROR_NOT_SUPPORTED},
        {folder + "/", ERROR_NOT_SUPPORTED},
        {fifo, ERROR_NOT_SUPPORTED},
        {sock, ERROR_NOT_SUPPORTED},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_EQ(Open(c.path.c_str()), INVALID_HANDLE_VALUE) << c.path;
        EXPECT_EQ(GetLastError(), c.error) << c.path;
    }
    close(fd);
    std::filesystem::remove_all(folder);
    EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
}

TEST_F(PtyPortTest, BytesTravelBothWays)
{
    UseReturnAtOnceTimeouts(m_hComm);
    const std::vector<std::uint8_t>& request = kSizeRequestWire;
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(m_hComm, request.data(), 11, &written, &ov));
    EXPECT_EQ(written, 11u);
    DWORD done = 0;
    ASSERT_TRUE(GetOverlappedResult(m_hComm, &ov, &done, FALSE)) << "completed with the call";
    EXPECT_EQ(done, 11u);
    EXPECT_EQ(FarEndReceives(11), request);

    std::vector<std::uint8_t> reply(300);
    for (std::size_t i = 0; i < reply.size(); ++i)
        reply[i] = static_cast<std::uint8_t>(i);  // every byte value passes raw
    FarEndSends(reply);
    WaitUntilQueued(300);
    std::vector<std::uint8_t> got(1024);
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(m_hComm, got.data(), 1024, &read, &ov));
    got.resize(read);
    EXPECT_EQ(got, reply);
    CloseHandle(ov.hEvent);
}

// With parity checking on, the tty doubles every 0xFF it receives (it marks
// errors with 0xFF); reads that cut a pair in two still give each byte once,
// and no error is reported for clean bytes.
TEST_F(PtyPortTest, WithParityCheckingEveryByteValueStillPassesWhole)
{
    UseReturnAtOnceTimeouts(m_hComm);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(m_hComm, &dcb));
    dcb.Parity = NOPARITY;  // what a pty keeps; the checking is what matters
    dcb.ByteSize = 8;
    dcb.fParity = 1;
    ASSERT_TRUE(SetCommState(m_hComm, &dcb)) << GetLastError();
    ASSERT_TRUE(LineSeen().c_iflag & PARMRK);

    std::vector<std::uint8_t> sent;
    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < 256; ++i)
            sent.push_back(static_cast<std::uint8_t>(round == 0 ? i : 255 - i));
    sent.insert(sent.end(), {0xFF, 0x00, 0x41, 0xFF, 0xFF});  // what a mark looks like, as data
    FarEndSends(sent);
    WaitUntilQueued(static_cast<DWORD>(sent.size()) + 4);  // four 0xFF doubled
    std::vector<std::uint8_t> got;
    for (int reads = 0; got.size() < sent.size() && reads < 1000; ++reads) {
        std::uint8_t piece[7];
        DWORD read = 0;
        ASSERT_TRUE(ReadFile(m_hComm, piece, sizeof piece, &read, nullptr));
        got.insert(got.end(), piece, piece + read);
    }
    EXPECT_EQ(got, sent);
    DWORD errors = 99;
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(m_hComm, &errors, &stat));
    EXPECT_EQ(errors, 0u);
}

TEST_F(PtyPortTest, ReadWithNothingWaitingReturnsAtOnce)
{
    UseReturnAtOnceTimeouts(m_hComm);
    std::uint8_t byte = 0;
    DWORD read = 99;
    EXPECT_TRUE(ReadFile(m_hComm, &byte, 1, &read, nullptr));
    EXPECT_EQ(read, 0u);
}

TEST_F(PtyPortTest, ReadWithTotalTimeoutEndsWithWhatCame)
{
    COMMTIMEOUTS t{0, 0, 20, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(m_hComm, &t));
    FarEndSends({1, 2, 3});
    WaitUntilQueued(3);
    std::uint8_t bytes[8]{};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(m_hComm, bytes, sizeof bytes, &read, nullptr));
    EXPECT_EQ(read, 3u);
}

// Nobody reads the far end, so the pty fills and the write budget runs out.
TEST_F(PtyPortTest, WriteEndsWithinItsBudgetWithThePartWritten)
{
    UseReturnAtOnceTimeouts(m_hComm, 50);
    std::vector<std::uint8_t> lots(1 << 20, 0x55);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(m_hComm, lots.data(), static_cast<DWORD>(lots.size()), &written, nullptr));
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, lots.size());
}

TEST_F(PtyPortTest, QueueCountsAndPurgeOfTheInput)
{
    UseReturnAtOnceTimeouts(m_hComm);
    FarEndSends({9, 8, 7, 6});
    WaitUntilQueued(4);
    COMSTAT stat{};
    DWORD errors = 77;
    ASSERT_TRUE(ClearCommError(m_hComm, &errors, &stat));
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(stat.cbInQue, 4u);
    ASSERT_TRUE(PurgeComm(m_hComm, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR));
    ASSERT_TRUE(ClearCommError(m_hComm, nullptr, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);
    EXPECT_FALSE(PurgeComm(m_hComm, 0x10));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(PtyPortTest, StatusByteInsertionCanOnlyBeSwitchedOff)
{
    struct {
        DWORD code;
        BYTE escape;
        DWORD inSize;
        BOOL ok;
        DWORD error;
    } const cases[] = {
        {IOCTL_SERIAL_LSRMST_INSERT, 0, 1, TRUE, 0},
        {IOCTL_SERIAL_LSRMST_INSERT, 0xFF, 1, FALSE, ERROR_NOT_SUPPORTED},
        {IOCTL_SERIAL_LSRMST_INSERT, 0, 0, FALSE, ERROR_INVALID_PARAMETER},
        {0x001B0004, 0, 1, FALSE, ERROR_INVALID_PARAMETER},  // another serial ioctl
    };
    for (const auto& c : cases) {
        BYTE escape = c.escape;
        DWORD returned = 99;
        SetLastError(0);
        EXPECT_EQ(DeviceIoControl(m_hComm, c.code, &escape, c.inSize, nullptr, 0, &returned, nullptr), c.ok);
        if (c.ok)
            EXPECT_EQ(returned, 0u);
        else
            EXPECT_EQ(GetLastError(), c.error);
    }
}

// A pty keeps no error counts and passes no parity: with the checking on,
// the error counts are there, all zero, after bytes that look like a mark
// have come; a record too small is refused.
TEST_F(PtyPortTest, ErrorCountsOfAPtyAreZero)
{
    UseReturnAtOnceTimeouts(m_hComm);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(m_hComm, &dcb));
    dcb.fParity = 1;
    ASSERT_TRUE(SetCommState(m_hComm, &dcb)) << GetLastError();
    FarEndSends({0xFF, 0x00, 0x41});
    WaitUntilQueued(4);
    std::uint8_t bytes[8];
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(m_hComm, bytes, sizeof bytes, &read, nullptr));
    SERIALPERF_STATS stats;
    std::memset(&stats, 0xEE, sizeof stats);
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(m_hComm, IOCTL_SERIAL_GET_STATS, nullptr, 0, &stats, sizeof stats, &returned, nullptr));
    EXPECT_EQ(returned, sizeof stats);
    const SERIALPERF_STATS none{};
    EXPECT_EQ(std::memcmp(&stats, &none, sizeof stats), 0);
    EXPECT_FALSE(
        DeviceIoControl(m_hComm, IOCTL_SERIAL_GET_STATS, nullptr, 0, &stats, sizeof stats - 1, &returned, nullptr));
    EXPECT_EQ(GetLastError(), 122u);  // ERROR_INSUFFICIENT_BUFFER
}

// A pty has no modem lines: status answers as a connected null modem,
// while requests to drive a line fail.
TEST_F(PtyPortTest, ModemCallsOnAPty)
{
    DWORD status = 0;
    ASSERT_TRUE(GetCommModemStatus(m_hComm, &status));
    EXPECT_EQ(status, MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);
    for (DWORD func : {SETDTR, CLRDTR, SETRTS, CLRRTS}) {
        SetLastError(0);
        EXPECT_FALSE(EscapeCommFunction(m_hComm, func)) << func;
        EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED) << func;
    }
    EXPECT_TRUE(EscapeCommFunction(m_hComm, SETXOFF));
    EXPECT_TRUE(EscapeCommFunction(m_hComm, SETXON));
    EXPECT_FALSE(EscapeCommFunction(m_hComm, 42));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(SetCommMask(m_hComm, EV_RXCHAR | EV_CTS));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
}

TEST_F(PtyPortTest, TransmitCommCharSendsOneByte)
{
    UseReturnAtOnceTimeouts(m_hComm);
    ASSERT_TRUE(TransmitCommChar(m_hComm, 0x13));
    EXPECT_EQ(FarEndReceives(1), std::vector<std::uint8_t>{0x13});
}

TEST_F(PtyPortTest, EveryCallOnAClosedHandleFails)
{
    ASSERT_TRUE(CloseHandle(m_hComm));
    const HANDLE h = m_hComm;
    m_hComm = INVALID_HANDLE_VALUE;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    COMMTIMEOUTS t{};
    COMSTAT stat{};
    COMMPROP prop{};
    COMMCONFIG cc{};
    OVERLAPPED ov{};
    DWORD word = 0, size = sizeof cc;
    std::uint8_t buf[4]{};
    BYTE zero = 0;
    const std::vector<std::function<BOOL(HANDLE)>> calls = {
        [&](HANDLE x) { return GetCommState(x, &dcb); },
        [&](HANDLE x) { return SetCommState(x, &dcb); },
        [&](HANDLE x) { return SetupComm(x, 4096, 4096); },
        [&](HANDLE x) { return GetCommTimeouts(x, &t); },
        [&](HANDLE x) { return SetCommTimeouts(x, &t); },
        [&](HANDLE x) { return GetCommMask(x, &word); },
        [&](HANDLE x) { return SetCommMask(x, 0); },
        [&](HANDLE x) { return WaitCommEvent(x, &word, &ov); },
        [&](HANDLE x) { return ClearCommError(x, &word, &stat); },
        [&](HANDLE x) { return PurgeComm(x, PURGE_RXCLEAR); },
        [&](HANDLE x) { return EscapeCommFunction(x, SETBREAK); },
        [&](HANDLE x) { return SetCommBreak(x); },
        [&](HANDLE x) { return ClearCommBreak(x); },
        [&](HANDLE x) { return TransmitCommChar(x, 'a'); },
        [&](HANDLE x) { return GetCommModemStatus(x, &word); },
        [&](HANDLE x) { return GetCommProperties(x, &prop); },
        [&](HANDLE x) { return GetCommConfig(x, &cc, &size); },
        [&](HANDLE x) { return SetCommConfig(x, &cc, sizeof cc); },
        [&](HANDLE x) { return ReadFile(x, buf, 4, &word, nullptr); },
        [&](HANDLE x) { return WriteFile(x, buf, 4, &word, nullptr); },
        [&](HANDLE x) { return DeviceIoControl(x, IOCTL_SERIAL_LSRMST_INSERT, &zero, 1, nullptr, 0, &word, nullptr); },
        [&](HANDLE x) { return GetOverlappedResult(x, &ov, &word, FALSE); },
        [&](HANDLE x) { return CloseHandle(x); },
    };
    const HANDLE bad[] = {h, nullptr, INVALID_HANDLE_VALUE, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    for (std::size_t i = 0; i < calls.size(); ++i) {
        for (std::size_t b = 0; b < 3; ++b) {  // the event is a valid handle of the wrong kind
            SetLastError(0);
            EXPECT_FALSE(calls[i](bad[b])) << "call " << i << " handle " << b;
            EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE) << "call " << i << " handle " << b;
        }
        if (i < calls.size() - 2) {  // GetOverlappedResult and CloseHandle accept any handle kind
            SetLastError(0);
            EXPECT_FALSE(calls[i](bad[3])) << "call " << i << " on an event";
            EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE) << "call " << i << " on an event";
        }
    }
    CloseHandle(bad[3]);
}

TEST_F(PtyPortTest, NullArgumentsFailInsteadOfCrashing)
{
    EXPECT_FALSE(GetCommState(m_hComm, nullptr));
    EXPECT_FALSE(SetCommState(m_hComm, nullptr));
    EXPECT_FALSE(GetCommTimeouts(m_hComm, nullptr));
    EXPECT_FALSE(SetCommTimeouts(m_hComm, nullptr));
    EXPECT_FALSE(GetCommMask(m_hComm, nullptr));
    EXPECT_FALSE(WaitCommEvent(m_hComm, nullptr, nullptr));
    EXPECT_FALSE(GetCommModemStatus(m_hComm, nullptr));
    EXPECT_FALSE(GetCommProperties(m_hComm, nullptr));
    EXPECT_FALSE(GetCommConfig(m_hComm, nullptr, nullptr));
    EXPECT_FALSE(ReadFile(m_hComm, nullptr, 4, nullptr, nullptr));
    EXPECT_FALSE(WriteFile(m_hComm, nullptr, 4, nullptr, nullptr));
    EXPECT_FALSE(GetOverlappedResult(m_hComm, nullptr, nullptr, TRUE));
    EXPECT_FALSE(DeviceIoControl(m_hComm, IOCTL_SERIAL_LSRMST_INSERT, nullptr, 1, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(ClearCommError(m_hComm, nullptr, nullptr));
}

}  // namespace
