#include "tools/tcc-upload/Platform.h"
#include "tools/tcc-upload/Ports.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

#include <dirent.h>
#include <sys/stat.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<int> g_bInterrupted{0};

void OnInterrupt(int) { g_bInterrupted.store(1); }

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

int StderrIsTerminal() { return isatty(STDERR_FILENO) ? 1 : 0; }

int IsFolder(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 1 : 0;
}

void SetStdoutBinary() {}

void InstallInterruptHandler()
{
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    // Restarted: an image or a report half written to a slow pipe must not
    // fail as a write error because Ctrl-C came; the poll loop sees the flag.
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);  // the terminal closed, the ssh session ended
    // A reader that went away (`| head -1`, a dropped ssh session) would end
    // the process at its next write, with the other ports' runs cut off and
    // their temporary files left; ignored, the write fails with EPIPE instead.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
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
