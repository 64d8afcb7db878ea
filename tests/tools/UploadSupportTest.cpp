// tcc-upload's pieces that need no line: message flattening, the trace's view
// of received bytes, the file that replaces its target only when complete,
// port discovery on a made-up sysfs, the choice of an adapter, the waits
// between attempts, and the run's report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/station-sim/StationSim.h"
#include "tools/tcc-upload/Console.h"
#include "tools/tcc-upload/OutputName.h"
#include "record/ImageCompare.h"
#include "record/Sha256.h"
#include "tests/tools/FlatJson.h"
#include "tools/tcc-upload/Platform.h"
#include "tools/tcc-upload/Ports.h"
#include "tools/tcc-upload/Report.h"
#include "tools/tcc-upload/RetryWait.h"
#include "tools/tcc-upload/StreamWriter.h"
#include "tools/tcc-upload/Trace.h"
#include "tests/fakes/WireVectors.h"
#include "tests/fakes/TempFolder.h"

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
    Bytes badFcsForAnother = badFcs;
    badFcsForAnother[1] = 0x02;
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
        {badFcsForAnother, "bad FCS"},
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
        m_dir = MakeTempFolder("tcc-atomic");
        ASSERT_FALSE(m_dir.empty());
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
        if (!c.bCommitted) {
            EXPECT_TRUE(file.LeftOnDisk()) << "the file is in place, only not yet safe";
            EXPECT_EQ(file.ErrorText(), "wrote " + m_dir + "/station.qmf, but its folder could not be synced: " +
                                            strerror(c.nFolderError) + "; a power loss may still undo it");
        }
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

    // A folder put in the target's place after the checks fails the rename;
    // the image, whole on the disk, stays under the name the message gives.
    const std::string folder = m_dir + "/taken";
    CAtomicFile blocked;
    ASSERT_TRUE(blocked.Create(folder));
    const Bytes data(700, 0x17);
    ASSERT_TRUE(blocked.Write(data.data(), data.size()));
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    WriteText(folder + "/inside", "x");
    EXPECT_FALSE(blocked.Commit());
    blocked.Discard();
    const std::vector<std::string> names = Entries();
    ASSERT_EQ(names.size(), 2u);
    const std::string kept = names[0] == "taken" ? names[1] : names[0];
    EXPECT_TRUE(blocked.LeftOnDisk());
    EXPECT_EQ(blocked.ErrorText(),
              "cannot replace " + folder + ": " + strerror(EISDIR) + "; the image is saved as " + m_dir + "/" + kept);
    EXPECT_EQ(Read(m_dir + "/" + kept), std::string(data.begin(), data.end()));
    std::remove((m_dir + "/" + kept).c_str());
    std::remove((folder + "/inside").c_str());
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
        m_root = MakeTempFolder("tcc-ports");
        ASSERT_FALSE(m_root.empty());
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

    // The listing for programs: the pty only with --all, each sysfs fact in its key.
    std::vector<std::map<std::string, JsonValue>> array;
    ASSERT_TRUE(CFlatJson().ParseArray(FormatPortsJson(ListedPorts(ports, false), true), &array));
    ASSERT_EQ(array.size(), ports.size() - 1);
    std::map<std::string, JsonValue>& usb0 = array.back();
    const std::map<std::string, std::string> expected = {
        {"port", "/dev/ttyUSB0"},
        {"kind", "usb"},
        {"description", "USB adapter: FTDI FT232R USB UART, 0403:6001, serial A900abcd"},
        {"vid", "0403"},
        {"pid", "6001"},
        {"serial", "A900abcd"},
        {"manufacturer", "FTDI"},
        {"product", "FT232R USB UART"},
        {"by_id", byId},
    };
    EXPECT_EQ(usb0.size(), expected.size());
    for (const auto& key : expected)
        EXPECT_EQ(usb0[key.first].text, key.second) << key.first;
    EXPECT_EQ(array[1]["port"].text, "/dev/ttyACM0");
    EXPECT_EQ(array[1]["manufacturer"].nKind, JsonValue::NUL);
    EXPECT_EQ(array[1]["serial"].nKind, JsonValue::NUL);
    EXPECT_EQ(ListedPorts(ports, true).size(), ports.size());
}

TEST_F(PortDiscoveryTest, AnEmptyOrMissingTreeHasNoPorts)
{
    EXPECT_TRUE(FindSerialPorts(m_root).empty());
    EXPECT_TRUE(FindSerialPorts(m_root + "/no-such-folder").empty());
}

SerialPortInfo Adapter(const char* pszName, const char* pszVid, const char* pszPid, const char* pszSerial)
{
    SerialPortInfo port;
    port.strName = pszName;
    port.nKind = PORT_USB;
    port.strVid = pszVid;
    port.strPid = pszPid;
    port.strSerial = pszSerial;
    return port;
}

// Windows' friendly name stands for the kind; every key is there, unknown
// facts null, by_id only where asked for, and what a name holds is quoted.
TEST(PortListTest, JsonOfEachKindParsesWithNullsForWhatIsUnknown)
{
    std::vector<SerialPortInfo> ports(4, Adapter("COM5", "0403", "6001", "A\"1\\"));
    ports[0].strFriendlyName = "USB Serial Port (COM5)";
    const PortKind kinds[] = {PORT_USB, PORT_UART, PORT_PTY, PORT_OTHER};
    const char* const texts[][2] = {{"usb", "USB Serial Port (COM5): 0403:6001, serial A\"1\\"},
                                    {"uart", "built-in UART"},
                                    {"pty", "pty"},
                                    {"other", "serial port"}};
    for (std::size_t i = 1; i < ports.size(); ++i) {
        ports[i] = SerialPortInfo();
        ports[i].strName = "COM" + std::to_string(i);
        ports[i].nKind = kinds[i];
    }
    std::vector<std::map<std::string, JsonValue>> array;
    ASSERT_TRUE(CFlatJson().ParseArray(FormatPortsJson(ports, false), &array)) << FormatPortsJson(ports, false);
    ASSERT_EQ(array.size(), ports.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(array[i]["kind"].text, texts[i][0]);
        EXPECT_EQ(array[i]["description"].text, texts[i][1]);
        EXPECT_EQ(array[i].size(), 8u) << "no by_id";
    }
    EXPECT_EQ(array[0]["serial"].text, ports[0].strSerial);
    EXPECT_EQ(array[0]["product"].nKind, JsonValue::NUL);
    EXPECT_EQ(array[2]["vid"].nKind, JsonValue::NUL);
    EXPECT_TRUE(CFlatJson().ParseArray(FormatPortsJson({}, true), &array) && array.empty());
}

TEST(PortChoiceTest, AutoSerialAndIdsEachTakeOneAdapterOrSayWhy)
{
    SerialPortInfo uart;
    uart.strName = "/dev/ttyS0";
    uart.nKind = PORT_UART;
    uart.strSerial = "S0";  // not an adapter, whatever it says
    const std::vector<SerialPortInfo> ports = {
        uart,
        Adapter("/dev/ttyUSB0", "0403", "6001", "A900abcd"),
        Adapter("/dev/ttyUSB1", "0403", "6001", "B1"),
        Adapter("/dev/ttyACM0", "2e8a", "000a", ""),
    };
    struct {
        const char* pszSpec;
        const char* pszPort;
        RunFailure nFailure;
        std::size_t nCandidates;
    } const cases[] = {
        {"/dev/ttyS0", "/dev/ttyS0", RunFailure::none, 0},      {"COM7", "COM7", RunFailure::none, 0},
        {"auto", "", RunFailure::severalAdapters, 3},           {"usb:A900abcd", "/dev/ttyUSB0", RunFailure::none, 1},
        {"usb:a900ABCD", "/dev/ttyUSB0", RunFailure::none, 1},  // Windows capitalises
        {"usb:B1", "/dev/ttyUSB1", RunFailure::none, 1},        {"usb:S0", "", RunFailure::noAdapter, 0},
        {"usb:2E8A:000A", "/dev/ttyACM0", RunFailure::none, 1}, {"usb:0403:6001", "", RunFailure::severalAdapters, 2},
        {"usb:0403:6002", "", RunFailure::noAdapter, 0},        {"usb:0403", "", RunFailure::noAdapter, 0},
    };
    for (const auto& c : cases) {
        const PortChoice choice = ChoosePort(c.pszSpec, ports);
        EXPECT_EQ(choice.strPort, c.pszPort) << c.pszSpec;
        EXPECT_EQ(choice.nFailure, c.nFailure) << c.pszSpec;
        EXPECT_EQ(choice.nFailure == RunFailure::none ? 0u : choice.candidates.size(),
                  c.nFailure == RunFailure::none ? 0u : c.nCandidates)
            << c.pszSpec;
        EXPECT_FALSE(choice.bUsage) << c.pszSpec;
        EXPECT_EQ(PortChoiceMessage(c.pszSpec, choice).empty(), c.nFailure == RunFailure::none) << c.pszSpec;
    }
    EXPECT_EQ(ChoosePort("auto", {uart, ports[3]}).strPort, "/dev/ttyACM0");
    EXPECT_TRUE(ChoosePort("usb:", ports).bUsage);

    EXPECT_EQ(PortChoiceMessage("usb:0403:6001", ChoosePort("usb:0403:6001", ports)),
              "tcc-upload: --port usb:0403:6001 needs exactly one matching USB serial adapter, and 2 are present:\n"
              "  /dev/ttyUSB0  USB adapter: 0403:6001, serial A900abcd\n"
              "  /dev/ttyUSB1  USB adapter: 0403:6001, serial B1\n");
    EXPECT_EQ(PortChoiceMessage("usb:XY", ChoosePort("usb:XY", ports)),
              "tcc-upload: --port usb:XY needs exactly one matching USB serial adapter, and there is none\n");
}

TEST(PortChoiceTest, InstanceIdsGiveIdsAndOnlyARealSerialNumber)
{
    struct {
        const char* pszId;
        bool bIds;
        const char* pszVid;
        const char* pszPid;
        const char* pszSerial;
    } const cases[] = {
        {"USB\\VID_0403&PID_6001\\A12345", true, "0403", "6001", "A12345"},
        {"usb\\vid_10C4&pid_EA60\\0001", true, "10c4", "ea60", "0001"},
        {"USB\\VID_2E8A&PID_000A&MI_00\\6&1A2B3C4D&0&0000", true, "2e8a", "000a", ""},  // an interface
        {"USB\\VID_067B&PID_2303\\5&2B6F5C3&0&2", true, "067b", "2303", ""},  // no serial: Windows made one up
        {"FTDIBUS\\VID_0403+PID_6001+A12345A\\0000", true, "0403", "6001", ""},
        {"USB\\VID_0403\\A12345", false, "", "", ""},
        {"USB\\VID_04Z3&PID_6001\\A12345", false, "", "", ""},
        {"ACPI\\PNP0501\\1", false, "", "", ""},
        {"USB\\VID_0403&PID_6001", false, "", "", ""},
        {"", false, "", "", ""},
    };
    for (const auto& c : cases) {
        std::string vid = "x", pid = "x", serial = "x";
        EXPECT_EQ(ParseUsbInstanceId(c.pszId, &vid, &pid, &serial), c.bIds) << c.pszId;
        EXPECT_EQ(vid, c.pszVid) << c.pszId;
        EXPECT_EQ(pid, c.pszPid) << c.pszId;
        EXPECT_EQ(serial, c.pszSerial) << c.pszId;
    }
}

// Stepped as the batch's poll loop steps it, on a clock of the test's own: a
// poll every kPollMs, each late by dwLateMs.
TEST(RetryWaitTest, PausesThenWaitsForAMissingPort)
{
    constexpr std::uint64_t kNever = UINT64_MAX;
    constexpr std::uint32_t kPollMs = 40;
    struct {
        std::uint32_t dwWaitMs;
        std::uint64_t qwPortAt;  // ms after the start that the port is there
        std::uint32_t dwLateMs;
        RetryWaitEnd nEnd;
        std::uint64_t qwElapsed;
    } const cases[] = {
        {2000, 0, 0, RETRY_PORT_PRESENT, 2000},       // there all along: the pause only
        {2000, 2350, 0, RETRY_PORT_PRESENT, 2360},    // back while waited for: the next poll
        {2000, kNever, 0, RETRY_PORT_MISSING, 4000},  // gone for good: twice the wait
        {2000, 1000, 0, RETRY_PORT_PRESENT, 2000},    // back during the pause
        {0, kNever, 0, RETRY_PORT_MISSING, 0},        // --retry-wait 0
        {0, 0, 0, RETRY_PORT_PRESENT, 0},
        {1000, kNever, 30, RETRY_PORT_MISSING, 2100},  // late polls: the port's wait starts at 1050
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.dwWaitMs) + " " + std::to_string(c.qwPortAt));
        const std::uint64_t qwStart = 1000;
        std::uint64_t qwNow = qwStart;
        bool bAskedInThePause = false;
        CRetryWait wait(qwNow, c.dwWaitMs);
        const auto present = [&] {
            bAskedInThePause = bAskedInThePause || qwNow - qwStart < c.dwWaitMs;
            return qwNow - qwStart >= c.qwPortAt ? 1 : 0;
        };
        RetryWaitEnd nEnd;
        while ((nEnd = wait.Step(qwNow, present)) == RETRY_WAITING)
            qwNow += kPollMs + c.dwLateMs;
        EXPECT_EQ(nEnd, c.nEnd);
        EXPECT_EQ(qwNow - qwStart, c.qwElapsed);
        EXPECT_FALSE(bAskedInThePause);
    }
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
    report.drops = FrameDrops{{5, 1, 1}};
    report.lineErrors = LineErrorCounts{5, 5, 1};
    report.attemptErrors = {RunFailure::lineLost, RunFailure::portNotFound, RunFailure::noReply};
    report.strMessage = "The station did not answer.";
    report.nFailure = RunFailure::noReply;
    report.strBaudSource = "UploadConfig.ini";
    report.strSha256 = "0f";

    std::map<std::string, JsonValue> object;
    ASSERT_TRUE(CFlatJson().Parse(FormatJson(report), &object)) << FormatJson(report);
    std::vector<std::string> keys;
    for (const auto& entry : object)
        keys.push_back(entry.first);
    EXPECT_EQ(keys, (std::vector<std::string>{"attempt_errors",
                                              "attempts",
                                              "baud",
                                              "baud_source",
                                              "bytes",
                                              "changed",
                                              "drops",
                                              "error",
                                              "expected",
                                              "first_difference",
                                              "frames_dropped",
                                              "line_errors",
                                              "message",
                                              "output",
                                              "port",
                                              "result",
                                              "seconds",
                                              "sha256",
                                              "wire_bytes_received",
                                              "wire_bytes_sent"}));
    EXPECT_EQ(object["drops"].keys, (std::vector<std::string>{"bad_check", "overlong", "unwanted"}));
    EXPECT_EQ(object["drops"].Member("bad_check").number, 5);
    EXPECT_EQ(object["drops"].Member("overlong").number, 1);
    EXPECT_EQ(object["drops"].Member("unwanted").number, 1);
    EXPECT_EQ(object["line_errors"].keys, (std::vector<std::string>{"framing", "overrun", "parity"}));
    EXPECT_EQ(object["line_errors"].Member("parity").number, 5);
    EXPECT_EQ(object["line_errors"].Member("framing").number, 5);
    EXPECT_EQ(object["line_errors"].Member("overrun").number, 1);
    std::vector<std::string> attempts;
    for (const JsonValue& item : object["attempt_errors"].items)
        attempts.push_back(item.text);
    EXPECT_EQ(attempts, (std::vector<std::string>{"line_lost", "port_not_found", "no_reply"}));
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
    EXPECT_EQ(object["error"].text, "no_reply");
    EXPECT_EQ(object["baud_source"].text, "UploadConfig.ini");
    EXPECT_EQ(object["sha256"].nKind, JsonValue::NUL) << "nothing written";

    report.bSaved = true;
    report.dwBaud = 0;
    ASSERT_TRUE(CFlatJson().Parse(FormatJson(report), &object));
    EXPECT_EQ(object["result"].text, "saved");
    EXPECT_EQ(object["message"].nKind, JsonValue::NUL) << "no message once saved";
    EXPECT_EQ(object["error"].nKind, JsonValue::NUL);
    EXPECT_EQ(object["sha256"].text, "0f");
    EXPECT_EQ(object["baud"].nKind, JsonValue::NUL) << "no rate known";

    report.attemptErrors.clear();
    ASSERT_TRUE(CFlatJson().Parse(FormatJson(report), &object));
    EXPECT_EQ(object["attempt_errors"].nKind, JsonValue::ARRAY);
    EXPECT_TRUE(object["attempt_errors"].items.empty()) << "the first attempt succeeded";
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

TEST(ReportTest, SummaryGivesPortSizeTimeRateAttemptsAndDigest)
{
    RunReport report;
    report.bSaved = true;
    report.strPort = "COM7";
    report.dwBytes = 70000;
    report.strOutput = "station.qmf";
    report.dAttemptSeconds = 6.25;
    report.dSeconds = 6.3;
    report.dwAttempts = 1;
    report.dwBaud = 115200;
    report.strBaudSource = "--baud";
    report.strSha256 = "ab12";
    EXPECT_EQ(FormatSummary(report),
              "tcc-upload: COM7: saved 70000 bytes to station.qmf in 6.25 s (10.9 KiB/s); "
              "115200 baud (--baud); SHA-256 ab12");
    report.dwAttempts = 2;
    report.dSeconds = 16.31;
    EXPECT_EQ(FormatSummary(report),
              "tcc-upload: COM7: saved 70000 bytes to station.qmf in 6.25 s (10.9 KiB/s); 2 "
              "attempts, 16.3 s in all; 115200 baud (--baud); SHA-256 ab12");
    report.bSaved = false;
    report.strMessage = "Failed to communicate with system";
    EXPECT_EQ(FormatSummary(report),
              "tcc-upload: COM7: Failed to communicate with system after 2 attempts; nothing written");
    report.dwAttempts = 1;
    EXPECT_EQ(FormatSummary(report), "tcc-upload: COM7: Failed to communicate with system; nothing written");
    // A save that failed with the image on the disk says where, and nothing else.
    report.strMessage = "cannot replace s.qmf: Is a directory; the image is saved as .~tcc0.tmp";
    report.bLeftOnDisk = true;
    EXPECT_EQ(FormatSummary(report), "tcc-upload: COM7: " + report.strMessage);
}

// A batch ends with the gravest status any port has: an interruption, then
// usage, then an output that cannot be written, then a failed retrieval,
// then an image saved that is not what was expected.
TEST(ReportTest, EachCauseHasOneExitStatusAndTheGravestWins)
{
    const std::pair<RunFailure, int> statuses[] = {
        {RunFailure::none, 0},           {RunFailure::portNotFound, 1},   {RunFailure::portBusy, 1},
        {RunFailure::portDenied, 1},     {RunFailure::notASerialPort, 1}, {RunFailure::lineLost, 1},
        {RunFailure::noReply, 1},        {RunFailure::badReply, 1},       {RunFailure::lineNoisy, 1},
        {RunFailure::saveFailed, 3},     {RunFailure::interrupted, 130},  {RunFailure::noAdapter, 2},
        {RunFailure::severalAdapters, 2}};
    for (const auto& [cause, nStatus] : statuses) {
        EXPECT_EQ(ExitStatusOf(cause), nStatus) << RunFailureClass(cause);
        EXPECT_EQ(std::string(RunFailureText(cause)).empty(), cause == RunFailure::none);
    }
    // A difference from what was expected is 4 only for an image saved.
    const struct {
        bool bSaved;
        RunFailure cause;
        std::optional<bool> expectedMatches;
        int nStatus;
    } reports[] = {{true, RunFailure::none, std::nullopt, 0},
                   {true, RunFailure::none, true, 0},
                   {true, RunFailure::none, false, 4},
                   {false, RunFailure::saveFailed, false, 3},
                   {false, RunFailure::interrupted, false, 130}};
    for (const auto& row : reports) {
        RunReport report;
        report.bSaved = row.bSaved;
        report.nFailure = row.cause;
        report.expectedMatches = row.expectedMatches;
        EXPECT_EQ(ExitStatusOf(report), row.nStatus) << RunFailureClass(row.cause);
    }
    const int order[] = {0, 4, 1, 3, 2, 130};
    for (int a = 0; a < 6; ++a)
        for (int b = 0; b < 6; ++b)
            EXPECT_EQ(WorseExitStatus(order[a], order[b]), order[std::max(a, b)]) << order[a] << " " << order[b];
}

// What a save is about to replace, held against the image: nothing there,
// the same bytes (through a link too), other bytes, and what is no file,
// which must not hold the save (a FIFO is never opened).
TEST(ImageCompareTest, WhatASaveReplacesIsToldChangedOrNot)
{
    const std::string dir = MakeTempFolder("tcc-image-compare");
    ASSERT_FALSE(dir.empty());
    std::filesystem::create_directories(dir + "/folder");
    const std::string image = "the station's image";
    std::ofstream(dir + "/same") << image;
    std::ofstream(dir + "/other") << "another image";
    std::ofstream(dir + "/longer") << image << "!";
    std::filesystem::create_symlink(dir + "/same", dir + "/link");
    std::filesystem::create_symlink(dir + "/gone", dir + "/dangling");
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    const struct {
        const char* pszName;
        std::optional<bool> changed;
    } rows[] = {{"missing", std::nullopt}, {"dangling", std::nullopt}, {"same", false}, {"link", false},
                {"other", true},           {"longer", true},           {"fifo", true},  {"folder", true}};
    for (const auto& row : rows)
        EXPECT_EQ(
            DiffersFromFile(reinterpret_cast<const std::uint8_t*>(image.data()), image.size(), dir + "/" + row.pszName),
            row.changed)
            << row.pszName;
    std::filesystem::remove_all(dir);
}

// The published vectors (FIPS 180-4 examples and the padding edges at 55, 56,
// 63 and 64 bytes), each fed whole and in pieces of every size up to 65, so
// that a block split anywhere gives the same digest.
TEST(Sha256Test, KnownDigestsWholeAndInPieces)
{
    struct {
        std::string message;
        const char* pszDigest;
    } const cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopq"
         "rstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(c.message.data());
        for (std::size_t piece = c.message.size() > 1000 ? 4093 : 1; piece <= 65; ++piece) {
            CSha256 sha;
            for (std::size_t i = 0; i < c.message.size(); i += piece)
                sha.Update(p + i, std::min(piece, c.message.size() - i));
            ASSERT_EQ(sha.FinishHex(), c.pszDigest) << c.message.size() << " bytes in pieces of " << piece;
        }
        CSha256 whole;
        whole.Update(p, c.message.size());
        EXPECT_EQ(whole.FinishHex(), c.pszDigest);
    }
}

// The far end of a CStreamWriter: each write waits while the reader is held,
// then is kept, or fails with the error set.
struct FakeReader {
    std::mutex lock;
    std::condition_variable cv;
    bool bHeld = false;
    int nWaiting = 0;  // writes waiting while held
    unsigned long dwError = 0;
    std::string taken;
} g_reader;

unsigned long FakeWrite(int, const void* pBytes, std::size_t count)
{
    std::unique_lock<std::mutex> lock(g_reader.lock);
    ++g_reader.nWaiting;
    g_reader.cv.notify_all();
    g_reader.cv.wait(lock, [] { return !g_reader.bHeld; });
    --g_reader.nWaiting;
    if (g_reader.dwError == 0)
        g_reader.taken.append(static_cast<const char*>(pBytes), count);
    return g_reader.dwError;
}

void HoldReader(bool bHeld)
{
    std::lock_guard<std::mutex> lock(g_reader.lock);
    g_reader.bHeld = bHeld;
    g_reader.cv.notify_all();
}

// Nothing that queues text waits for a reader that stopped: what must
// arrive is kept whole and in order, what may be left out only up to the
// bound (and counted), a redraw only when nothing waits; a reader gone for
// good ends the output.
TEST(StreamWriterTest, QueuesWithoutWaitingAndBoundsWhatMayBeLeftOut)
{
    g_reader.taken.clear();
    g_reader.dwError = 0;
    CStreamWriter writer(2, 10, FakeWrite);
    HoldReader(true);
    writer.Put("first;");
    {
        std::unique_lock<std::mutex> lock(g_reader.lock);
        g_reader.cv.wait(lock, [] { return g_reader.nWaiting == 1; });  // the first write is held
    }
    const struct {
        const char* pszText;
        int nHow;  // 0 Put, 1 PutDroppable, 2 PutIfIdle
        bool bQueued;
    } cases[] = {
        {"dump-1;", 1, true},   // 7 of 10 bytes
        {"dump-2;", 1, false},  // 14 would be too many
        {"must;", 0, true},     // whatever is queued
        {"dump;", 1, false},    // still 7 + 5 > 10
        {"redraw;", 2, false},  // something waits
        {"ab;", 1, true},       // 10: just fits
    };
    for (const auto& c : cases) {
        const bool bQueued = c.nHow == 0   ? (writer.Put(c.pszText), true)
                             : c.nHow == 1 ? writer.PutDroppable(c.pszText)
                                           : writer.PutIfIdle(c.pszText);
        EXPECT_EQ(bQueued, c.bQueued) << c.pszText;
    }
    EXPECT_EQ(writer.DroppedTexts(), 2u);
    EXPECT_EQ(writer.DroppedBytes(), 12u);
    CStreamWriter::Duration held{};
    EXPECT_FALSE(writer.WaitWritten([&held](CStreamWriter::Duration d) {
        held = d;
        return true;
    }));
    EXPECT_GT(held.count(), 0) << "how long the reader has held the write";
    HoldReader(false);
    EXPECT_TRUE(writer.WaitWritten([](CStreamWriter::Duration) { return false; }));
    EXPECT_EQ(g_reader.taken, "first;dump-1;must;ab;");
    EXPECT_TRUE(writer.PutIfIdle("redraw;"));
    EXPECT_TRUE(writer.WaitWritten([](CStreamWriter::Duration) { return false; }));

    {
        std::lock_guard<std::mutex> lock(g_reader.lock);
        g_reader.dwError = EPIPE;
    }
    writer.Put("lost;");
    EXPECT_FALSE(writer.WaitWritten([](CStreamWriter::Duration) { return false; }));
    EXPECT_EQ(writer.Error(), static_cast<unsigned long>(EPIPE));
    writer.Put("after;");
    EXPECT_FALSE(writer.PutDroppable("x"));
    EXPECT_FALSE(writer.WaitWritten([](CStreamWriter::Duration) { return false; }));
    EXPECT_EQ(g_reader.taken, "first;dump-1;must;ab;redraw;");
}

// Abandoned while the stream holds a write: the text under way ends with the
// piece being written, what is queued and what comes later is let go, and
// the count says what the stream took.
TEST(StreamWriterTest, AbandonedOutputEndsWithThePieceUnderWay)
{
    g_reader.taken.clear();
    g_reader.dwError = 0;
    CStreamWriter writer(1, 0, FakeWrite);
    const std::string image(3 * 4096 + 100, 'i');
    HoldReader(true);
    writer.Put(image);
    writer.Put("queued;");
    {
        std::unique_lock<std::mutex> lock(g_reader.lock);
        g_reader.cv.wait(lock, [] { return g_reader.nWaiting == 1; });
    }
    EXPECT_EQ(writer.WrittenBytes(), 0u);
    EXPECT_EQ(writer.Abandon(), image.size() + 7) << "all of the image and the text queued behind it";
    EXPECT_EQ(writer.Abandon(), 0u) << "let go once";
    writer.Put("later;");
    HoldReader(false);
    EXPECT_TRUE(writer.WaitWritten([](CStreamWriter::Duration) { return false; }));
    EXPECT_EQ(g_reader.taken, image.substr(0, 4096));
    EXPECT_EQ(writer.WrittenBytes(), 4096u);
}

TEST(OutputNameTest, PortNamesAndDateBecomeFileNames)
{
    struct {
        const char* pszPort;
        const char* pszSafe;
    } const names[] = {{"/dev/ttyUSB0", "ttyUSB0"},
                       {"COM7", "COM7"},
                       {"\\\\.\\COM12", "COM12"},
                       {"/dev/pts/3", "pts_3"},
                       // The path as the system would resolve it, and never a hidden name.
                       {"/dev/./pts/3", "pts_3"},
                       {"/dev//ttyUSB0", "ttyUSB0"},
                       {"/dev/serial/../ttyS1", "ttyS1"},
                       {"./ttyUSB0", "ttyUSB0"},
                       {"..", "port"},
                       {".hidden", "hidden"},
                       {"/dev/..", "port"},
                       {"/tmp/my station", "tmp_my_station"},
                       {"usb:A5:0*", "usb_A5_0_"}};
    for (const auto& n : names)
        EXPECT_EQ(SafePortName(n.pszPort), n.pszSafe);
    EXPECT_EQ(UtcStamp(0), "19700101-000000");
    EXPECT_EQ(UtcStamp(1796655600), "20261207-150000");
}

// What a Windows output path names, from the name alone: opening it to ask
// would act on it. The legacy device names count in any folder and with any
// extension; the device namespace is devices but for the file systems it
// reaches; a pipe is a pipe on this machine or another.
TEST(OutputNameTest, WindowsDeviceAndPipeNamesAreToldWithoutOpeningThem)
{
    const std::string device = "it is a device", pipe = "it is a pipe", file;
    const struct {
        const char* pszPath;
        const std::string& refusal;
    } cases[] = {
        {"station.qmf", file},
        {"C:\\data\\station.qmf", file},
        {"Z:/tmp/out.qmf", file},
        {"out\\", file},
        {"NUL", device},
        {"nul", device},
        {"NUL.qmf", device},
        {"aux.tar.gz", device},
        {"CON ", device},
        {"Con .qmf", device},
        {"C:\\data\\com6.qmf", device},
        {"data/LPT1", device},
        {"C:NUL", device},
        {"COM6", device},
        {"prn:", device},
        {"CONOUT$", device},
        {"COM\xB9.qmf", device},
        {"LPT\xC2\xB3", device},
        {"COM10", file},
        {"COM0", file},
        {"COMA", file},
        {"a.con", file},
        {"nullable.qmf", file},
        {"\\\\.\\COM6", device},
        {"\\\\.\\COM10", device},
        {"\\\\.\\C:", device},
        {"\\\\.\\PhysicalDrive0", device},
        {"\\\\?\\GLOBALROOT\\Device\\Serial0", device},
        {"\\\\.\\pipe\\x", pipe},
        {"\\\\.\\PIPE\\x", pipe},
        {"//./pipe/x", pipe},
        {"\\\\?\\pipe\\x", pipe},
        {"\\\\server\\pipe\\x", pipe},
        {"\\\\.\\C:\\data\\x.qmf", file},
        {"\\\\?\\C:\\data\\NUL", file},
        {"\\\\?\\UNC\\server\\share\\x.qmf", file},
        {"\\\\?\\Volume{0b1c}\\x.qmf", file},
        {"\\\\server\\share\\x.qmf", file},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WindowsOutputNameRefusal(c.pszPath), c.refusal) << c.pszPath;
}

// Every error is found from the arguments alone, before a port is opened.
TEST(OutputNameTest, TemplatesExpandPerPortOrSayWhyNot)
{
    const std::vector<OutputPort> three = {{"/dev/ttyUSB0", "A50285BI"}, {"/dev/ttyUSB1", ""}, {"COM7", ""}};
    const std::vector<OutputPort> one = {{"/dev/ttyUSB0", ""}};
    struct {
        const char* pszPattern;
        const std::vector<OutputPort>* pPorts;
        std::vector<std::string> paths;  // empty: an error that holds pszError
        const char* pszError;
    } const cases[] = {
        {"st-{port}-{date}.qmf", &three, {"st-ttyUSB0-D.qmf", "st-ttyUSB1-D.qmf", "st-COM7-D.qmf"}, ""},
        {"{serial}.qmf", &three, {"A50285BI.qmf", "ttyUSB1.qmf", "COM7.qmf"}, ""},
        {"out/{port}", &one, {"out/ttyUSB0"}, ""},
        {"plain.qmf", &one, {"plain.qmf"}, ""},
        {"-", &one, {"-"}, ""},
        {"{date}.qmf", &one, {"D.qmf"}, ""},
        {"plain.qmf", &three, {}, "several ports need an --output with {port} or {serial} in it"},
        {"{date}.qmf", &three, {}, "several ports need"},
        {"-", &three, {}, "--output - takes one port"},
        {"{Port}.qmf", &one, {}, "unknown field {Port}; the fields are {port}, {serial} and {date}"},
        {"{port}-{time}.qmf", &three, {}, "unknown field {time}"},
        {"{port", &three, {}, "unknown field {port;"},
        {"{serial}.qmf", nullptr, {}, "gives /dev/ttyUSB1 and /dev/pts/1 the same file ttyUSB1.qmf"},
    };
    const std::vector<OutputPort> clash = {{"/dev/ttyUSB1", ""}, {"/dev/pts/1", "ttyUSB1"}};
    for (const auto& c : cases) {
        std::vector<std::string> paths = {"stale"};
        const std::string error = ExpandOutputs(c.pszPattern, c.pPorts ? *c.pPorts : clash, "D", &paths);
        if (c.paths.empty()) {
            EXPECT_NE(error.find(c.pszError), std::string::npos) << c.pszPattern << ": " << error;
            EXPECT_TRUE(paths.empty()) << c.pszPattern;
        }
        else {
            EXPECT_EQ(error, "") << c.pszPattern;
            EXPECT_EQ(paths, c.paths) << c.pszPattern;
        }
    }
}

}  // namespace
