#include "tools/tcc-upload/Platform.h"
#include "tools/tcc-upload/Ports.h"

#include "platform/WriteAllPosix.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<int> g_bInterrupted{0};

void OnInterrupt(int) { g_bInterrupted.store(1); }

// Every signal whose default action ends the process, but for those a fault
// of the process itself raises (SEGV, BUS, FPE, ILL, TRAP, SYS, ABRT), which
// must go on ending it, and SIGPIPE and SIGXFSZ, which are ignored; the
// real-time signals are added to these.
const int kEndingSignals[] = {SIGHUP,    SIGINT,  SIGQUIT,   SIGUSR1, SIGUSR2, SIGALRM, SIGTERM,
                              SIGSTKFLT, SIGXCPU, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR};

// A signal the program's starter ignores stays ignored (nohup ignores
// SIGHUP, a shell's background job SIGINT and SIGQUIT).
void HandleUnlessIgnored(int nSignal, const struct sigaction& handler)
{
    struct sigaction old {};
    if (sigaction(nSignal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
        sigaction(nSignal, &handler, nullptr);
}

std::string ReadFirstLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string RealPath(const std::string& path)
{
    char sz[PATH_MAX];
    return realpath(path.c_str(), sz) ? std::string(sz) : std::string();
}

std::string BaseName(const std::string& path)
{
    const std::size_t n = path.rfind('/');
    return n == std::string::npos ? path : path.substr(n + 1);
}

std::vector<std::string> DirEntries(const char* pszDir)
{
    std::vector<std::string> names;
    if (DIR* pDir = opendir(pszDir)) {
        while (const dirent* pEnt = readdir(pDir))
            if (pEnt->d_name[0] != '.')
                names.emplace_back(pEnt->d_name);
        closedir(pDir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The USB device above a tty in sysfs: the first ancestor with idVendor,
// looked for no higher than top. Returns false when there is none.
bool FillUsbFacts(const std::string& top, const std::string& ttyName, SerialPortInfo* pPort)
{
    std::string dir = RealPath(top + "/sys/class/tty/" + ttyName + "/device");
    for (; dir.size() > top.size() + 1; dir = dir.substr(0, dir.rfind('/'))) {
        const std::string vendor = ReadFirstLine(dir + "/idVendor");
        if (vendor.empty())
            continue;
        pPort->strManufacturer = ReadFirstLine(dir + "/manufacturer");
        pPort->strProduct = ReadFirstLine(dir + "/product");
        pPort->strVid = vendor;
        pPort->strPid = ReadFirstLine(dir + "/idProduct");
        pPort->strSerial = ReadFirstLine(dir + "/serial");
        return true;
    }
    return false;
}

// Newer kernels put serial-base "port" and "ctrl" devices between the tty and
// the UART's own device; the UART's driver says more.
std::string DriverName(const std::string& device)
{
    std::string dir = RealPath(device);
    std::string driver = RealPath(device + "/driver");
    for (int i = 0; i < 3 && driver.find("/bus/serial-base/") != std::string::npos; ++i) {
        dir = dir.substr(0, dir.rfind('/'));
        const std::string parent = RealPath(dir + "/driver");
        if (parent.empty())
            break;
        driver = parent;
    }
    return BaseName(driver);
}

}  // namespace

// Each closed one is opened in turn, so it gets the lowest free number: its own.
int OpenClosedStandardStreams()
{
    int nClosed = 0;
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        nClosed |= 1 << fd;
        const int nNull = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (nNull > fd) {
            dup2(nNull, fd);
            close(nNull);
        }
    }
    return nClosed;
}

unsigned long WriteStandardStream(int nStream, const void* pBytes, std::size_t count)
{
    return WriteAll(nStream, pBytes, count);
}

int StderrIsTerminal() { return isatty(STDERR_FILENO) ? 1 : 0; }

// stat follows links: what a link names is what would be replaced.
std::string OutputRefusal(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode))
        return std::string();
    if (S_ISDIR(st.st_mode))
        return "it is a folder";
    if (S_ISFIFO(st.st_mode))
        return "it is a FIFO";
    if (S_ISSOCK(st.st_mode))
        return "it is a socket";
    return "it is a device";
}

void SetStdoutBinary() {}

void InstallInterruptHandler()
{
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    // Restarted: no thread of the run waits on output (standard output and
    // error have writer threads of their own), and the poll loop sees the flag.
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (int nSignal : kEndingSignals)
        HandleUnlessIgnored(nSignal, sa);
    for (int nSignal = SIGRTMIN; nSignal <= SIGRTMAX; ++nSignal)
        HandleUnlessIgnored(nSignal, sa);
}

// A reader that went away (`| head -1`, a dropped ssh session) would end the
// process at its next write, with the other ports' runs cut off and their
// temporary files left; ignored, the write fails with EPIPE instead.
// Likewise a write past the file size limit (ulimit -f) fails with EFBIG, as
// a save that does not fit or a run log line it cannot take, rather than
// ending every port.
void IgnoreWriteSignals()
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    sigaction(SIGXFSZ, &ignore, nullptr);
}

int WasInterrupted() { return g_bInterrupted.load(); }

// A tty is a port when its device has a driver; serial8250 registers its
// legacy ports whether or not a UART answers, and marks the missing ones with
// type 0, which are left out. A by-id link names a USB adapter even where
// sysfs says less; a dangling one is an adapter just pulled out.
std::vector<SerialPortInfo> FindSerialPorts(const std::string& root)
{
    std::string top = root.empty() ? std::string() : RealPath(root);
    if (top.empty())
        top = root;
    std::map<std::string, SerialPortInfo> found;
    for (const std::string& name : DirEntries((top + "/sys/class/tty").c_str())) {
        const std::string base = top + "/sys/class/tty/" + name;
        const std::string driver = DriverName(base + "/device");
        if (driver.empty() || ReadFirstLine(base + "/type") == "0")
            continue;
        SerialPortInfo& port = found["/dev/" + name];
        port.strName = "/dev/" + name;
        port.strDetail = driver;
        port.nKind = FillUsbFacts(top, name, &port) ? PORT_USB : PORT_UART;
    }
    const std::string byId = "/dev/serial/by-id/";
    for (const std::string& name : DirEntries((top + byId).c_str())) {
        std::string device = RealPath(top + byId + name);
        if (device.empty())
            continue;
        if (!top.empty() && device.compare(0, top.size() + 1, top + "/") == 0)
            device.erase(0, top.size());
        SerialPortInfo& port = found[device];
        port.strName = device;
        port.nKind = PORT_USB;
        if (port.strById.empty())
            port.strById = byId + name;
    }
    for (const std::string& name : DirEntries((top + "/dev/pts").c_str())) {
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;  // ptmx
        SerialPortInfo& port = found["/dev/pts/" + name];
        port.strName = "/dev/pts/" + name;
        port.nKind = PORT_PTY;
    }
    std::vector<SerialPortInfo> ports;
    for (auto& entry : found)
        ports.push_back(std::move(entry.second));
    SortPorts(ports);
    return ports;
}

std::vector<SerialPortInfo> ListSerialPorts()
{
    const char* pszRoot = std::getenv("TCC_UPLOAD_ROOT");
    return FindSerialPorts(pszRoot ? pszRoot : "");
}

int PortListHasById() { return 1; }

int PortIsPresent(const std::string& port)
{
    struct stat st {};
    return stat(port.c_str(), &st) == 0 ? 1 : 0;
}

std::string SystemErrorText(unsigned long code) { return std::strerror(static_cast<int>(code)); }
