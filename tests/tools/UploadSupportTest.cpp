// tcc-upload's pieces that need no line: message flattening, the trace's view
// of received bytes, the file that replaces its target only when complete,
// port discovery on a made-up sysfs, and the run's report.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <iterator>
#include <string>
#include <vector>

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/station-sim/StationSim.h"
#include "tools/tcc-upload/Console.h"
#include "tests/tools/FlatJson.h"
#include "tools/tcc-upload/Platform.h"
#include "tools/tcc-upload/Ports.h"
#include "tools/tcc-upload/Report.h"
#include "tools/tcc-upload/Trace.h"
#include "tests/fakes/WireVectors.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(FlattenMessageTest, LineBreaksBecomeSentenceBreaks)
{
    struct {
        const char* pszIn;
        const char* pszOut;
    } const cases[] = {
        {"Failed to communicate with system", "Failed to communicate with system"},
        {"BaudRate 1234 Not Supported, Using Defaults\nContact Technical Support if communications fail.",
         "BaudRate 1234 Not Supported, Using Defaults. Contact Technical Support if communications fail."},
        {"First line.\r\n\r\n  Second line  \n", "First line. Second line"},
        {"\n\n", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FlattenMessage(c.pszIn), c.pszOut) << c.pszIn;
    EXPECT_EQ(FlattenMessage(nullptr), "");
}

struct Piece {
    bool bFrame;
    Bytes bytes;
    bool operator==(const Piece& o) const { return bFrame == o.bFrame && bytes == o.bytes; }
};

void Collect(bool bFrame, const std::uint8_t* p, std::size_t n, void* pContext)
{
    static_cast<std::vector<Piece>*>(pContext)->push_back({bFrame, Bytes(p, p + n)});
}

// However the stream is split into bursts, the same frames and the same
// dropped bytes come out (dropped runs may be split at burst ends).
TEST(TraceScannerTest, SplitsFramesFromBytesOutsideThemAcrossBursts)
{
    const Bytes msg = {0x01, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01, 0x7F};
    const Bytes frame = EncodeStationFrame(msg.data(), msg.size());
    Bytes stream = {0x55, 0x7F};  // garbage, then a flag the next flag re-opens
    stream.insert(stream.end(), frame.begin(), frame.end());
    stream.insert(stream.end(), {0x00, 0x7E});
    stream.insert(stream.end(), frame.begin(), frame.end());

    for (std::size_t nBurst : {stream.size(), std::size_t{1}, std::size_t{3}, std::size_t{7}}) {
        CTraceScanner scanner;
        std::vector<Piece> pieces;
        for (std::size_t i = 0; i < stream.size(); i += nBurst)
            scanner.Feed(stream.data() + i, std::min(nBurst, stream.size() - i), Collect, &pieces);
        std::vector<Bytes> frames;
        Bytes dropped;
        for (const Piece& p : pieces) {
            if (p.bFrame)
                frames.push_back(p.bytes);
            else
                dropped.insert(dropped.end(), p.bytes.begin(), p.bytes.end());
        }
        EXPECT_EQ(frames, (std::vector<Bytes>{frame, frame})) << "burst " << nBurst;
        EXPECT_EQ(dropped, (Bytes{0x55, 0x7F, 0x00, 0x7E})) << "burst " << nBurst;
    }
}

TEST(TraceScannerTest, DescribesWhatTheDecoderWouldMakeOfAFrame)
{
    const Bytes chunk = {0x01, 0x03, 0x00, 0x00, 0x00, 0x00, 0x02, 0xAA, 0xBB};
    const Bytes size = {0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00};
    Bytes badFcs = EncodeStationFrame(chunk.data(), chunk.size());
    badFcs[8] ^= 0x01;
    struct {
        Bytes frame;
        const char* pszExpected;
    } const cases[] = {
        {EncodeStationFrame(chunk.data(), chunk.size()), "data chunk, flag 0, 2 bytes"},
        {EncodeStationFrame(size.data(), size.size()), "size response, 65536 bytes"},
        {kSizeRequestWire, "size request"},
        {badFcs, "bad FCS"},
        {EncodeStationFrame(chunk.data(), chunk.size(), 0x02), "address 02"},
        {EncodeStationFrame(chunk.data(), chunk.size(), 0x01, 0x13), "control 13"},
        {{0x7F, 0x01, 0x03, 0x01, 0x7F}, "too short"},
        {{0x7F, 0x01, 0x03, 0x01, 0x7D, 0x7F}, "aborted"},
        {{0x7F, 0x01}, "truncated"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DescribeWireFrame(c.frame.data(), c.frame.size()), c.pszExpected) << c.pszExpected;
}

// The calls of the replacing file that another thread or a power loss can
// tell apart, recorded while a test asks and then passed on to the C library.
std::vector<std::string> g_fileCalls;
bool g_bRecordFileCalls = false;
int g_nFolderSyncError = 0;  // what fsync of a folder fails with; 0: it succeeds

template <typename Fn>
Fn NextDefinition(const char* pszName)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, pszName));
}

void RecordFileCall(const char* pszCall)
{
    if (g_bRecordFileCalls)
        g_fileCalls.push_back(pszCall);
}

}  // namespace

extern "C" mode_t umask(mode_t mask) noexcept
{
    RecordFileCall("umask");
    return NextDefinition<mode_t (*)(mode_t)>("umask")(mask);
}

extern "C" int fsync(int fd)
{
    struct stat st {};
    const bool bFolder = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    RecordFileCall(bFolder ? "fsync folder" : "fsync file");
    if (bFolder && g_nFolderSyncError != 0) {
        errno = g_nFolderSyncError;
        return -1;
    }
    return NextDefinition<int (*)(int)>("fsync")(fd);
}

extern "C" int rename(const char* pszOld, const char* pszNew) noexcept
{
    RecordFileCall("rename");
    return NextDefinition<int (*)(const char*, const char*)>("rename")(pszOld, pszNew);
}

namespace {

class AtomicFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/tcc-atomic-XXXXXX";
        ASSERT_NE(mkdtemp(szTemplate), nullptr);
        m_dir = szTemplate;
    }
    void TearDown() override
    {
        for (const std::string& name : Entries())
            std::remove((m_dir + "/" + name).c_str());
        rmdir(m_dir.c_str());
    }
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> names;
        if (DIR* d = opendir(m_dir.c_str())) {
            while (dirent* e = readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                    names.push_back(e->d_name);
            closedir(d);
        }
        return names;
    }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

    std::string m_dir;
};

TEST_F(AtomicFileTest, TargetChangesOnlyAtCommit)
{
    const std::string target = m_dir + "/station.qmf";
    WriteText(target, "old");
    const Bytes data = {'n', 'e', 'w', 0, 0xFF};
    {
        CAtomicFile file;
        ASSERT_TRUE(file.Create(target));
        ASSERT_TRUE(file.Write(data.data(), data.size()));
        EXPECT_EQ(Read(target), "old") << "untouched until the commit";
        EXPECT_EQ(Entries().size(), 2u);
        ASSERT_TRUE(file.Commit()) << file.ErrorText();
    }
    EXPECT_EQ(Read(target), std::string(data.begin(), data.end()));
    EXPECT_EQ(Entries(), std::vector<std::string>{"station.qmf"}) << "no temporary file left";
}

// Setting the umask to learn it changes it for every thread meanwhile; the
// file gets 0666 less the umask all the same.
TEST_F(AtomicFileTest, CreatingLeavesTheUmaskAlone)
{
    const mode_t oldMask = umask(027);
    g_fileCalls.clear();
    g_bRecordFileCalls = true;
    CAtomicFile file;
    const bool bCreated = file.Create(m_dir + "/station.qmf");
    g_bRecordFileCalls = false;
    ASSERT_TRUE(bCreated) << file.ErrorText();
    ASSERT_TRUE(file.Commit()) << file.ErrorText();
    umask(oldMask);
    EXPECT_EQ(g_fileCalls, std::vector<std::string>{});
    struct stat st {};
    ASSERT_EQ(stat((m_dir + "/station.qmf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// Success is reported once the data and the new name are both on the disk.
// A file system that cannot sync a folder says so, and the rename stands; an
// I/O error while syncing the folder fails the save.
TEST_F(AtomicFileTest, CommitSyncsTheFileThenTheFolderAfterTheRename)
{
    const struct {
        int nFolderError;
        bool bCommitted;
    } cases[] = {{0, true}, {EINVAL, true}, {EROFS, true}, {ENOTSUP, true}, {EIO, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(strerror(c.nFolderError));
        CAtomicFile file;
        ASSERT_TRUE(file.Create(m_dir + "/station.qmf"));
        const Bytes data(100, 0x5A);
        ASSERT_TRUE(file.Write(data.data(), data.size()));
        g_fileCalls.clear();
        g_nFolderSyncError = c.nFolderError;
        g_bRecordFileCalls = true;
        const bool bCommitted = file.Commit();
        g_bRecordFileCalls = false;
        g_nFolderSyncError = 0;
        EXPECT_EQ(bCommitted, c.bCommitted) << file.ErrorText();
        EXPECT_EQ(g_fileCalls, (std::vector<std::string>{"fsync file", "rename", "fsync folder"}));
        EXPECT_EQ(Read(m_dir + "/station.qmf"), std::string(data.begin(), data.end()));
    }
}

TEST_F(AtomicFileTest, DiscardOrDestructionLeavesTargetAndNoTemporary)
{
    const std::string target = m_dir + "/station.qmf";
    WriteText(target, "old");
    const Bytes data(3000, 0x42);
    {
        CAtomicFile file;
        ASSERT_TRUE(file.Create(target));
        ASSERT_TRUE(file.Write(data.data(), data.size()));
        file.Discard();
    }
    {
        CAtomicFile file;  // never committed
        ASSERT_TRUE(file.Create(target));
        ASSERT_TRUE(file.Write(data.data(), data.size()));
    }
    EXPECT_EQ(Read(target), "old");
    EXPECT_EQ(Entries(), std::vector<std::string>{"station.qmf"});
}

TEST_F(AtomicFileTest, FailuresNameTheTargetAndTheReason)
{
    const std::string missing = m_dir + "/no-such-folder/station.qmf";
    CAtomicFile file;
    EXPECT_FALSE(file.Create(missing));
    EXPECT_NE(file.ErrorText().find(missing), std::string::npos) << file.ErrorText();
    EXPECT_NE(file.ErrorText().find("No such file or directory"), std::string::npos) << file.ErrorText();

    // A folder in the target's place fails at the rename, and cleans up.
    const std::string folder = m_dir + "/taken";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    CAtomicFile blocked;
    ASSERT_TRUE(blocked.Create(folder));
    EXPECT_FALSE(blocked.Commit());
    EXPECT_NE(blocked.ErrorText().find(folder), std::string::npos) << blocked.ErrorText();
    blocked.Discard();
    EXPECT_EQ(Entries(), std::vector<std::string>{"taken"});
    rmdir(folder.c_str());
}

// A sysfs and /dev laid out as the kernel and udev lay them out, below a
// private root: USB adapters with and without a by-id link, legacy UARTs
// (one behind the newer serial-base devices, one absent), a virtual console,
// ptys and by-id links that dangle or leave the root.
class PortDiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/tcc-ports-XXXXXX";
        ASSERT_NE(mkdtemp(szTemplate), nullptr);
        m_root = szTemplate;
    }
    void TearDown() override { std::filesystem::remove_all(m_root); }

    void File(const std::string& path, const std::string& text = "")
    {
        std::filesystem::create_directories(std::filesystem::path(m_root + path).parent_path());
        std::ofstream(m_root + path) << text;
    }
    // bInside: the target is a path below the root; else as given.
    void Link(const std::string& path, const std::string& target, bool bInside = true)
    {
        std::filesystem::create_directories(std::filesystem::path(m_root + path).parent_path());
        std::filesystem::create_symlink(bInside ? m_root + target : target, m_root + path);
    }
    void Dir(const std::string& path) { std::filesystem::create_directories(m_root + path); }
    // A tty whose device is devicePath, bound to driver (a sysfs bus path).
    void Tty(const std::string& name, const std::string& devicePath, const std::string& driver)
    {
        Dir(devicePath);
        Dir(driver);
        Link(devicePath + "/driver", driver);
        Dir(devicePath + "/tty/" + name);
        Link(devicePath + "/tty/" + name + "/device", devicePath);
        Link("/sys/class/tty/" + name, devicePath + "/tty/" + name);
    }
    void UsbDevice(const std::string& path, const char* pszVendor, const char* pszProduct, const char* pszMaker,
                   const char* pszName, const char* pszSerial)
    {
        File(path + "/idVendor", std::string(pszVendor) + "\n");
        File(path + "/idProduct", std::string(pszProduct) + "\n");
        if (pszMaker)
            File(path + "/manufacturer", std::string(pszMaker) + "\n");
        File(path + "/product", std::string(pszName) + "\n");
        if (pszSerial)
            File(path + "/serial", std::string(pszSerial) + "\n");
    }

    std::string m_root;
};

TEST_F(PortDiscoveryTest, EachPortOnceWithWhatItIs)
{
    const std::string ftdi = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2";
    UsbDevice(ftdi, "0403", "6001", "FTDI", "FT232R USB UART", "A900abcd");
    Tty("ttyUSB0", ftdi + "/1-2:1.0/ttyUSB0", "/sys/bus/usb-serial/drivers/ftdi_sio");
    File("/dev/ttyUSB0");
    const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A900abcd-if00-port0";
    std::filesystem::create_directories(m_root + "/dev/serial/by-id");
    std::filesystem::create_symlink("../../ttyUSB0", m_root + byId);  // as udev makes it

    const std::string pico = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-3";
    UsbDevice(pico, "2e8a", "000a", nullptr, "Pico", nullptr);
    Tty("ttyACM0", pico + "/1-3:1.0", "/sys/bus/usb/drivers/cdc_acm");

    Tty("ttyS0", "/sys/devices/platform/serial8250/serial8250:0/serial8250:0.0",
        "/sys/bus/platform/drivers/serial8250");
    File("/sys/class/tty/ttyS0/type", "4\n");
    Tty("ttyS1", "/sys/devices/platform/serial8250/serial8250:0/serial8250:0.1",
        "/sys/bus/platform/drivers/serial8250");
    File("/sys/class/tty/ttyS1/type", "0\n");  // registered, no UART answers
    // Newer kernels: the tty's device is a serial-base port under a ctrl under the UART.
    const std::string pnp = "/sys/devices/pnp0/00:01";
    Dir("/sys/bus/pnp/drivers/serial");
    Link(pnp + "/driver", "/sys/bus/pnp/drivers/serial");
    Dir("/sys/bus/serial-base/drivers/ctrl");
    Link(pnp + "/00:01:0/driver", "/sys/bus/serial-base/drivers/ctrl");
    Tty("ttyS10", pnp + "/00:01:0/00:01:0.0", "/sys/bus/serial-base/drivers/port");
    Tty("ttyS2", "/sys/devices/platform/serial8250/serial8250:0/serial8250:0.2",
        "/sys/bus/platform/drivers/serial8250");

    Dir("/sys/devices/virtual/tty/tty0");
    Link("/sys/class/tty/tty0", "/sys/devices/virtual/tty/tty0");  // no device: not a port
    Link("/dev/serial/by-id/usb-Gone-if00-port0", "/dev/ttyUSB9");
    Link("/dev/serial/by-id/usb-Elsewhere-if00", "/dev/null", false);
    File("/dev/pts/0");
    File("/dev/pts/ptmx");

    std::vector<std::string> lines;
    const std::vector<SerialPortInfo> ports = FindSerialPorts(m_root);
    for (const SerialPortInfo& port : ports)
        lines.push_back(DescribePort(port));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "/dev/null  USB adapter (/dev/serial/by-id/usb-Elsewhere-if00)",
                         "/dev/pts/0  pty",
                         "/dev/ttyACM0  USB adapter: Pico, 2e8a:000a (cdc_acm)",
                         "/dev/ttyS0  built-in UART (serial8250)",
                         "/dev/ttyS2  built-in UART (serial8250)",
                         "/dev/ttyS10  built-in UART (serial)",
                         "/dev/ttyUSB0  USB adapter: FTDI FT232R USB UART, 0403:6001, serial A900abcd (ftdi_sio, " +
                             byId + ")",
                     }));
    std::vector<std::string> usb;
    for (const SerialPortInfo& port : UsbAdapters(ports))
        usb.push_back(port.strName);
    EXPECT_EQ(usb, (std::vector<std::string>{"/dev/null", "/dev/ttyACM0", "/dev/ttyUSB0"}));
}

TEST_F(PortDiscoveryTest, AnEmptyOrMissingTreeHasNoPorts)
{
    EXPECT_TRUE(FindSerialPorts(m_root).empty());
    EXPECT_TRUE(FindSerialPorts(m_root + "/no-such-folder").empty());
}

TEST(SerialCommTest, BuiltInUartsAreSerialNDevicesTheRestAdapters)
{
    struct {
        const char* pszDevice;
        PortKind nKind;
    } const cases[] = {
        {"\\Device\\Serial0", PORT_UART},    {"\\Device\\Serial12", PORT_UART}, {"\\Device\\VCP0", PORT_USB},
        {"\\Device\\USBSER000", PORT_USB},   {"\\Device\\Silabser0", PORT_USB}, {"\\Device\\ProlificSerial0", PORT_USB},
        {"\\Device\\BthModem0", PORT_OTHER}, {"\\Device\\", PORT_OTHER},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KindOfSerialCommDevice(c.pszDevice), c.nKind) << c.pszDevice;
}

TEST(ReportTest, JsonParsesWithEveryDocumentedKey)
{
    RunReport report;
    report.strPort = "COM3";
    report.dwBaud = 57600;
    report.dwBytes = 1234;
    report.strOutput = "C:\\maps\\\"new\".qmf";
    report.dSeconds = 12.5;
    report.dwAttempts = 3;
    report.qwWireSent = 66;
    report.qwWireReceived = 5000000000ull;
    report.dwFramesDropped = 7;
    report.strMessage = "Failed to communicate with system";

    std::map<std::string, JsonValue> object;
    ASSERT_TRUE(CFlatJson().Parse(FormatJson(report), &object)) << FormatJson(report);
    std::vector<std::string> keys;
    for (const auto& entry : object)
        keys.push_back(entry.first);
    EXPECT_EQ(keys, (std::vector<std::string>{"attempts", "baud", "bytes", "frames_dropped", "message", "output",
                                              "port", "result", "seconds", "wire_bytes_received", "wire_bytes_sent"}));
    EXPECT_EQ(object["result"].text, "failed");
    EXPECT_EQ(object["port"].text, "COM3");
    EXPECT_EQ(object["baud"].number, 57600);
    EXPECT_EQ(object["bytes"].number, 1234);
    EXPECT_EQ(object["output"].text, report.strOutput);
    EXPECT_EQ(object["seconds"].number, 12.5);
    EXPECT_EQ(object["attempts"].number, 3);
    EXPECT_EQ(object["wire_bytes_sent"].number, 66);
    EXPECT_EQ(object["wire_bytes_received"].text, "5000000000");
    EXPECT_EQ(object["frames_dropped"].number, 7);
    EXPECT_EQ(object["message"].text, report.strMessage);

    report.bSaved = true;
    report.dwBaud = 0;
    ASSERT_TRUE(CFlatJson().Parse(FormatJson(report), &object));
    EXPECT_EQ(object["result"].text, "saved");
    EXPECT_EQ(object["message"].nKind, JsonValue::NUL) << "no message once saved";
    EXPECT_EQ(object["baud"].nKind, JsonValue::NUL) << "no rate known";
}

// Whatever bytes a path or message holds, the output stays valid JSON.
TEST(ReportTest, QuotingEscapesAndReplacesWhatIsNotUtf8)
{
    const std::string kBad = "\xEF\xBF\xBD";  // U+FFFD as the parser gives it back
    struct {
        std::string in;
        std::string quoted;
        std::string decoded;
    } const cases[] = {
        {"a\"b\\c/", "\"a\\\"b\\\\c/\"", "a\"b\\c/"},
        {"tab\tline\n\x01\x1F", "\"tab\\u0009line\\u000a\\u0001\\u001f\"", "tab\tline\n\x01\x1F"},
        {"caf\xC3\xA9 \xF0\x9F\x98\x80", "\"caf\xC3\xA9 \xF0\x9F\x98\x80\"", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
        {"caf\xE9", "\"caf\\ufffd\"", "caf" + kBad},                                          // a code-page byte
        {"\xC0\xAF", "\"\\ufffd\\ufffd\"", kBad + kBad},                                      // overlong slash
        {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\"", kBad + kBad + kBad},                    // a surrogate
        {"\xE2\x82", "\"\\ufffd\\ufffd\"", kBad + kBad},                                      // cut short at the end
        {"\xF4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\"", kBad + kBad + kBad + kBad},  // above U+10FFFF
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JsonQuote(c.in), c.quoted) << c.in;
        std::map<std::string, JsonValue> object;
        ASSERT_TRUE(CFlatJson().Parse("{\"k\": " + JsonQuote(c.in) + "}", &object)) << c.in;
        EXPECT_EQ(object["k"].text, c.decoded) << c.in;
    }
}

TEST(ReportTest, SummaryGivesSizeTimeRateAndAttempts)
{
    RunReport report;
    report.bSaved = true;
    report.dwBytes = 70000;
    report.strOutput = "station.qmf";
    report.dAttemptSeconds = 6.25;
    report.dSeconds = 6.3;
    report.dwAttempts = 1;
    EXPECT_EQ(FormatSummary(report), "tcc-upload: saved 70000 bytes to station.qmf in 6.25 s (10.9 KiB/s)");
    report.dwAttempts = 2;
    report.dSeconds = 16.31;
    EXPECT_EQ(FormatSummary(report),
              "tcc-upload: saved 70000 bytes to station.qmf in 6.25 s (10.9 KiB/s); 2 attempts, 16.3 s in all");
    report.bSaved = false;
    EXPECT_EQ(FormatSummary(report), "tcc-upload: retrieval failed after 2 attempts; nothing written");
    report.dwAttempts = 1;
    EXPECT_EQ(FormatSummary(report), "tcc-upload: retrieval failed; nothing written");
}

}  // namespace
