// tcc-upload against tcc-station-sim on a pty, both as built: exit statuses,
// what is left on disk, and what standard error says.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "tests/tools/FlatJson.h"
#include "tests/fakes/TempFolder.h"
#include "record/Sha256.h"

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What a pipe or a pty's master gives until its writers are gone (end of
// file, or EIO from a pty), then closed.
std::string ReadToEnd(int fd)
{
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);)
        text.append(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    close(fd);
    return text;
}

struct RunResult {
    int nExit = -1;
    std::string strErr;
    std::string strOut;
};

// How a child starts beyond its arguments: as daemons, runners and nohup
// start programs.
struct ChildSetup {
    int nClosedMask = 0;           // bit n: descriptor n (0 to 2) is closed
    int nIgnored = 0;              // a signal the child starts with ignored
    int errFd = -1;                // standard error, instead of the file errPath
    std::vector<std::string> env;  // NAME=VALUE entries added
    long nFileSizeLimit = -1;      // ulimit -f, in bytes; -1: none set
};

ChildSetup Closing(int nMask)
{
    ChildSetup setup;
    setup.nClosedMask = nMask;
    return setup;
}

// Runs a program in dir with stderr captured; stdout goes to outFd (or is
// discarded). Returns the child's pid.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& dir, int outFd, const std::string& errPath,
            const ChildSetup& setup = {})
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    if (chdir(dir.c_str()) != 0)
        _exit(127);
    for (const std::string& entry : setup.env)
        putenv(const_cast<char*>(entry.c_str()));
    const int errFd = setup.errFd >= 0 ? setup.errFd : open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int nullFd = open("/dev/null", O_RDWR);
    dup2(nullFd, 0);
    dup2(outFd >= 0 ? outFd : nullFd, 1);
    dup2(errFd, 2);
    for (int fd = 0; fd < 3; ++fd)
        if (setup.nClosedMask & (1 << fd))
            close(fd);
    if (setup.nIgnored != 0)
        signal(setup.nIgnored, SIG_IGN);
    if (setup.nFileSizeLimit >= 0) {
        const rlimit limit{static_cast<rlim_t>(setup.nFileSizeLimit), static_cast<rlim_t>(setup.nFileSizeLimit)};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

int WaitExit(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A guard against a hang, not a measure of speed: a child that has not ended
// after nSeconds is killed, and the test fails saying so.
int WaitExitOrKill(pid_t pid, int nSeconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(nSeconds);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "the program had not ended after " << nSeconds << " s; killed";
            kill(pid, SIGKILL);
            return WaitExit(pid);
        }
        usleep(2000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Polls cheap facts (a file's text, a pipe's fill) until done says so, within
// a generous limit that only guards against a hang. False at the limit.
bool AwaitFact(const std::function<bool()>& done)
{
    for (int nTry = 0; nTry < 15000; ++nTry) {
        if (done())
            return true;
        usleep(2000);
    }
    return done();
}

std::size_t Occurrences(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Whether nSignal is in pid's signal mask named field (SigCgt: caught,
// SigIgn: ignored) in /proc.
bool InSignalMask(pid_t pid, const char* pszField, int nSignal)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(pszField, 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (nSignal - 1)) & 1;
    return false;
}

bool CatchesSignal(pid_t pid, int nSignal) { return InSignalMask(pid, "SigCgt:", nSignal); }

// A tty's settings through a descriptor of its own, set first when asked.
termios LineOf(const std::string& tty, const termios* pSet = nullptr)
{
    termios t{};
    const int fd = open(tty.c_str(), O_RDWR | O_NOCTTY);
    EXPECT_GE(fd, 0) << tty;
    if (pSet != nullptr) {
        EXPECT_EQ(tcsetattr(fd, TCSANOW, pSet), 0) << tty;
    }
    EXPECT_EQ(tcgetattr(fd, &t), 0) << tty;
    close(fd);
    return t;
}

bool SameLine(const termios& a, const termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
           std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 && cfgetospeed(&a) == cfgetospeed(&b);
}

class UploadToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = MakeTempFolder("tcc-upload-test");
        ASSERT_FALSE(m_dir.empty());
        // Without this file the serial controller says it uses its defaults.
        std::ofstream(m_dir + "/UploadConfig.ini") << "BAUDRATE=115200\n";
        // The programs' run log goes to the test's own folder, however the
        // test is started (a case may name another in the child's setup).
        setenv("XDG_STATE_HOME", (m_dir + "/state").c_str(), 1);
    }
    void TearDown() override
    {
        StopSim();
        std::system(("rm -rf '" + m_dir + "'").c_str());
    }

    // Starts the simulator (unpaced) and waits for its "PTY <path>" line.
    void StartSim(std::vector<std::string> args) { StartStation("", args, &m_simPid, &m_pty); }

    // Station n of several: its image in served-n.bin, its messages in sim-n.err.
    std::string StartStation(int n, const std::vector<std::string>& args)
    {
        m_stations.push_back(-1);
        std::string pty;
        StartStation("-" + std::to_string(n), args, &m_stations.back(), &pty);
        return pty;
    }
    void StartStation(const std::string& suffix, std::vector<std::string> args, pid_t* pPid, std::string* pPty)
    {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        // Unpaced unless a rate is asked for.
        if (std::find(args.begin(), args.end(), "--baud") == args.end())
            args.insert(args.begin(), "--unpaced");
        args.insert(args.begin(), {TCC_STATION_SIM, "--save-image", m_dir + "/served" + suffix + ".bin"});
        *pPid = Spawn(args, m_dir, fds[1], m_dir + "/sim" + suffix + ".err");
        close(fds[1]);
        std::string line;
        char c = 0;
        pollfd pfd{fds[0], POLLIN, 0};
        while (line.find('\n') == std::string::npos && poll(&pfd, 1, 10000) > 0 && read(fds[0], &c, 1) == 1)
            line += c;
        close(fds[0]);
        ASSERT_EQ(line.rfind("PTY /dev/", 0), 0u) << line << ReadAll(m_dir + "/sim" + suffix + ".err");
        *pPty = line.substr(4, line.size() - 5);
    }
    int StopSim()
    {
        for (pid_t& pid : m_stations)
            if (pid > 0) {
                kill(pid, SIGTERM);
                WaitExit(pid);
                pid = -1;
            }
        if (m_simPid <= 0)
            return -1;
        kill(m_simPid, SIGTERM);
        const int nExit = WaitExit(m_simPid);
        m_simPid = -1;
        return nExit;
    }
    int WaitSim()
    {
        const int nExit = WaitExit(m_simPid);
        m_simPid = -1;
        return nExit;
    }

    pid_t SpawnUpload(const std::vector<std::string>& args, int outFd, const ChildSetup& setup = {})
    {
        std::vector<std::string> argv{TCC_UPLOAD};
        argv.insert(argv.end(), args.begin(), args.end());
        return Spawn(argv, m_dir, outFd, m_dir + "/upload.err", setup);
    }

    RunResult Upload(const std::vector<std::string>& args, const ChildSetup& setup = {})
    {
        RunResult r;
        const int outFd = open((m_dir + "/upload.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        r.nExit = WaitExit(SpawnUpload(args, outFd, setup));
        close(outFd);
        r.strErr = ReadAll(m_dir + "/upload.err");
        r.strOut = ReadAll(m_dir + "/upload.out");
        return r;
    }

    // The --json lines, one object each, keyed by port.
    static std::map<std::string, std::map<std::string, JsonValue>> JsonByPort(const std::string& out)
    {
        std::map<std::string, std::map<std::string, JsonValue>> objects;
        std::size_t nAt = 0;
        for (std::size_t nEnd; (nEnd = out.find('\n', nAt)) != std::string::npos; nAt = nEnd + 1) {
            std::map<std::string, JsonValue> object;
            EXPECT_TRUE(CFlatJson().Parse(out.substr(nAt, nEnd - nAt), &object)) << out;
            objects[object["port"].text] = object;
        }
        EXPECT_EQ(nAt, out.size()) << "every object ends its line";
        return objects;
    }

    // The --json line: exactly one object on standard output.
    static std::map<std::string, JsonValue> Json(const RunResult& r)
    {
        std::map<std::string, JsonValue> object;
        EXPECT_EQ(std::count(r.strOut.begin(), r.strOut.end(), '\n'), 1) << r.strOut;
        EXPECT_TRUE(CFlatJson().Parse(r.strOut, &object)) << r.strOut;
        return object;
    }

    // The simulator's "served" lines: (image bytes, wire bytes sent, received).
    std::vector<std::vector<unsigned long long>> Served() const
    {
        std::vector<std::vector<unsigned long long>> served;
        const std::string err = ReadAll(m_dir + "/sim.err");
        const std::regex line(R"(served (\d+) bytes \(wire: (\d+) bytes sent, (\d+) received\))");
        for (auto it = std::sregex_iterator(err.begin(), err.end(), line); it != std::sregex_iterator(); ++it)
            served.push_back({std::stoull((*it)[1]), std::stoull((*it)[2]), std::stoull((*it)[3])});
        return served;
    }

    // A run held while its output file is open (its station never answers):
    // each descriptor it was started without is the null device, not a file
    // it opened (standard input above all, which nothing writes to).
    void ExpectClosedDescriptorsAreTheNullDevice(int nClosedMask)
    {
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
        const pid_t pid = SpawnUpload({"-p", ptsname(master), "-o", "held.qmf"}, -1, Closing(nClosedMask));
        EXPECT_TRUE(AwaitFact([&] { return !Leftovers().empty() && CatchesSignal(pid, SIGTERM); }));
        for (int fd = 0; fd <= 2; ++fd) {
            if ((nClosedMask & (1 << fd)) == 0)
                continue;
            char sz[4096] = "";
            const std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
            const ssize_t n = readlink(link.c_str(), sz, sizeof sz - 1);
            EXPECT_EQ(std::string(sz, n > 0 ? static_cast<std::size_t>(n) : 0), "/dev/null") << "descriptor " << fd;
        }
        kill(pid, SIGTERM);
        EXPECT_EQ(WaitExitOrKill(pid, 20), 130);
        close(master);
    }

    // Names in the folder other than the fixture's own files.
    std::vector<std::string> Leftovers() const
    {
        std::vector<std::string> names;
        if (DIR* d = opendir(m_dir.c_str())) {
            while (dirent* e = readdir(d)) {
                const std::string n = e->d_name;
                if (n != "." && n != ".." && n != "UploadConfig.ini" && n.rfind("served", 0) != 0 &&
                    n.rfind("sim", 0) != 0 && n != "upload.err" && n != "upload.out" && n != "state")
                    names.push_back(n);
            }
            closedir(d);
        }
        return names;
    }

    std::string m_dir;
    std::string m_pty;
    pid_t m_simPid = -1;
    std::vector<pid_t> m_stations;
};

std::string Sha256Of(const std::string& bytes)
{
    return Sha256Hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// The file name {port} gives a pty, as the tool makes it.
std::string PtyFileName(const std::string& pty) { return "pts_" + pty.substr(pty.rfind('/') + 1); }

// Every usage error is found before a port is opened (none of these ports
// exists, so opening one would end in 1): a short line and the pointer to
// --help, no JSON, nothing on disk.
TEST_F(UploadToolTest, UsageErrorsExitTwo)
{
    const std::string a = "ttyA", b = "ttyB";  // no such files in the test's folder
    struct {
        std::vector<std::string> args;
        std::string error;
    } const cases[] = {
        {{}, "--port and --output are both needed"},
        {{"--port", "/dev/null"}, "--port and --output are both needed"},
        {{"-o", "x.qmf"}, "--port and --output are both needed"},
        {{"--port"}, "missing value for --port"},
        {{"--port=", "-o", "x"}, "missing value for --port"},
        {{"-p", a, "-o", "x.qmf", "--bogus"}, "unknown option --bogus"},
        {{"-p", a, "-o", "x.qmf", "--json=yes"}, "--json takes no value"},
        {{"--list-ports", "--port", "/dev/null"}, "--list-ports takes no other option"},
        {{"--list-ports", "--output", "x.qmf", "--json"}, "--list-ports takes no other option than --json and --all"},
        {{"--list-ports", "--quiet"}, "--list-ports takes no other option than --json and --all"},
        {{"--list-ports", "-v"}, "--list-ports takes no other option"},
        {{"--list-ports", "--trace"}, "--list-ports takes no other option"},
        {{"--list-ports", "--retry-wait", "5"}, "--list-ports takes no other option"},
        {{"--list-ports", "--retries=0"}, "--list-ports takes no other option"},
        {{"--baud", "9600", "--list-ports"}, "--list-ports takes no other option"},
        {{"--all"}, "--all goes with --list-ports"},
        {{"-p", a, "-o", "x.qmf", "--all"}, "--all goes with --list-ports"},
        {{"-p", a, "-o", "x.qmf", "--retry-wait", "601"}, "--retry-wait 601: seconds from 0 to 600"},
        {{"-p", a, "-o", "x.qmf", "--retry-wait=1.5"}, "--retry-wait 1.5"},
        {{"-p", a, "-o", "x.qmf", "--retries", "-1", "--json"}, "--retries -1: a count from 0 to 99"},
        {{"-p", a, "-o", "x.qmf", "--retries=100"}, "--retries 100"},
        {{"-p", a, "-o", "x.qmf", "--retries", "two"}, "--retries two"},
        {{"-p", a, "-o", "x.qmf", "--baud"}, "missing value for --baud"},
        {{"-p", a, "-o", "x.qmf", "-q", "-v"}, "--quiet and --verbose do not go together"},
        {{"-p", a, "-o", "-", "--json"}, "--output - and --json both want standard output"},
        // --output with several ports
        {{"-p", a, "-p", b, "-o", "x.qmf"}, "several ports need an --output with {port} or {serial} in it"},
        {{"-p", a, "-p", b, "-o", "{date}.qmf"}, "several ports need an --output with {port} or {serial}"},
        {{"-p", a, "-p", b, "-o", "-"}, "--output - takes one port"},
        {{"-p", a, "-o", "x-{name}.qmf"},
         "--output x-{name}.qmf: unknown field {name}; the fields are {port}, {serial}"},
        {{"-p", a, "-p", b, "--output={port}-{dat"}, "unknown field {dat"},
        {{"-p", a, "-p", a, "-o", "{port}.qmf"}, "gives " + a + " and " + a + " the same file ttyA.qmf"},
        {{"-p", a, "-p", "/dev/ttyA", "-o", "{port}.qmf"}, "the same file"},
    };
    for (const auto& c : cases) {
        const RunResult r = Upload(c.args);
        EXPECT_EQ(r.nExit, 2) << r.strErr;
        EXPECT_EQ(r.strErr.rfind("tcc-upload: ", 0), 0u) << r.strErr;
        EXPECT_NE(r.strErr.find(c.error), std::string::npos) << r.strErr;
        EXPECT_NE(r.strErr.find("\nTry 'tcc-upload --help'.\n"), std::string::npos) << r.strErr;
        EXPECT_EQ(std::count(r.strErr.begin(), r.strErr.end(), '\n'), 2) << "short: " << r.strErr;
        EXPECT_EQ(r.strOut, "") << "no JSON for a usage error";
    }
    // A rate the controller does not offer names the five it does.
    for (const char* pszBaud : {"4800", "115201", "-9600", "9600x", " 9600", "0x2580", "99999999999"}) {
        const RunResult r = Upload({"--port", "/dev/null", "--output", "x.qmf", "--baud", pszBaud, "--json"});
        EXPECT_EQ(r.nExit, 2) << pszBaud;
        EXPECT_NE(r.strErr.find("9600, 19200, 38400, 57600 or 115200"), std::string::npos) << r.strErr;
    }
    EXPECT_TRUE(Leftovers().empty());
    EXPECT_EQ(Upload({"--list-ports"}).nExit, 0);
    for (const char* pszHelp : {"-h", "--help"}) {
        const RunResult r = Upload({pszHelp});
        EXPECT_EQ(r.nExit, 0);
        for (const char* pszListed : {"-V, --version", "-p, --port", "-o, --output", "-b, --baud", "-q, --quiet",
                                      "-v, --verbose", "--opt=VALUE", "130  interrupted"})
            EXPECT_NE(r.strOut.find(pszListed), std::string::npos) << pszListed;
    }
    EXPECT_EQ(Upload({"-V"}).strOut.rfind("tcc-upload ", 0), 0u);
}

TEST_F(UploadToolTest, SavesTheServedImage)
{
    StartSim({"--size", "70000", "--once"});
    const RunResult r = Upload({"--port", m_pty, "--output", "station.qmf"});
    EXPECT_EQ(r.nExit, 0) << r.strErr;
    EXPECT_EQ(WaitSim(), 0) << "--once ends the simulator after one transfer";
    const std::string image = ReadAll(m_dir + "/served.bin");
    EXPECT_EQ(image.size(), 70000u);
    EXPECT_TRUE(ReadAll(m_dir + "/station.qmf") == image);
    EXPECT_TRUE(std::regex_match(r.strErr, std::regex("tcc-upload: " + m_pty +
                                                      R"(: saved 70000 bytes to station\.qmf in \d+\.\d\d s \(\d+\.\d )"
                                                      R"(KiB/s\); 115200 baud \(UploadConfig\.ini\); SHA-256 )" +
                                                      Sha256Of(image) + "\n")))
        << r.strErr;
    EXPECT_EQ(Leftovers(), std::vector<std::string>{"station.qmf"});
}

TEST_F(UploadToolTest, NoiseOnTheLineStillGivesTheImageAndTheTraceShowsIt)
{
    StartSim({"--size", "5000", "--fault", "noise"});
    std::ofstream(m_dir + "/station.qmf") << "previous";
    const RunResult r = Upload({"--port", m_pty, "--output", "station.qmf", "--quiet", "--trace"});
    EXPECT_EQ(r.nExit, 0) << r.strErr;
    EXPECT_TRUE(ReadAll(m_dir + "/station.qmf") == ReadAll(m_dir + "/served.bin"));
    for (const char* pszExpected :
         {"TX frame 11 bytes (size request)\n    7F 80 03 01 00 10 91 8C 00 00 7F\n",
          "TX frame 11 bytes (data request)\n    7F 80 03 01 02 10 21 BF 00 00 7F\n", "(bad FCS)", "(address 02)",
          "(control 13)", "RX dropped 6 bytes (outside frames)\n    00 55 FF 7E 01 03\n",
          "RX to uploader 1024 bytes (data chunk, flag 1, 1013 bytes)", "(size response, 5000 bytes)"})
        EXPECT_NE(r.strErr.find(pszExpected), std::string::npos) << pszExpected;
    EXPECT_EQ(r.strErr.find("saved"), std::string::npos) << "--quiet";
}

// Each failure leaves no file behind, and an existing target as it was.
TEST_F(UploadToolTest, FailedRetrievalExitsOneAndWritesNothing)
{
    struct {
        std::vector<std::string> simArgs;
        bool bWithSim;
        const char* pszMessage;
    } const cases[] = {
        {{"--fault", "oversize"}, true, ": The station answered against the protocol: announced 524289 bytes"},
        {{"--fault", "short-last", "--size", "3000"}, true, ": the last chunk left the image 1 byte short. Note"},
        {{"--fault", "long-chunk", "--size", "3000"}, true, ": a chunk of 975 bytes where 974 were missing. Note"},
        {{}, false, "no-such-port: Unable to open serial port. The port is not there."},
    };
    for (const auto& c : cases) {
        std::ofstream(m_dir + "/station.qmf") << "previous";
        std::string port = m_dir + "/no-such-port";
        if (c.bWithSim) {
            StartSim(c.simArgs);
            port = m_pty;
        }
        const RunResult r = Upload({"--port", port, "--output", "station.qmf"});
        EXPECT_EQ(r.nExit, 1) << r.strErr;
        EXPECT_NE(r.strErr.find(c.pszMessage), std::string::npos) << r.strErr;
        EXPECT_NE(r.strErr.find("othing written"), std::string::npos) << r.strErr;
        EXPECT_EQ(ReadAll(m_dir + "/station.qmf"), "previous");
        EXPECT_EQ(Leftovers(), std::vector<std::string>{"station.qmf"});
        StopSim();
    }
}

// Ctrl-C, kill, a closed terminal or an ended ssh session: the run stops and
// removes its temporary file. The station never answers, so the run is still
// waiting when the signal comes.
TEST_F(UploadToolTest, SignalsEndTheRunWithoutLeavingTheTemporaryFile)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slave = ptsname(master);
    for (int nSignal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(nSignal));
        const pid_t pid =
            Spawn({TCC_UPLOAD, "--port", slave, "--output", "station.qmf"}, m_dir, -1, m_dir + "/upload.err");
        // Safety limits only: the file and the handler come within moments.
        for (int nWait = 0; nWait < 1000 && (Leftovers().empty() || !CatchesSignal(pid, nSignal)); ++nWait)
            usleep(5000);
        EXPECT_EQ(Leftovers().size(), 1u) << "the temporary file";
        EXPECT_TRUE(CatchesSignal(pid, nSignal));
        kill(pid, nSignal);
        EXPECT_EQ(WaitExit(pid), 130) << ReadAll(m_dir + "/upload.err");
        const std::string err = ReadAll(m_dir + "/upload.err");
        EXPECT_NE(err.find("interrupted before it ended. Nothing written."), std::string::npos) << err;
        EXPECT_TRUE(Leftovers().empty());
    }
    close(master);
}

// The line going away mid-transfer ends the run as soon as the reader sees it.
TEST_F(UploadToolTest, LineClosedMidTransferExitsOne)
{
    StartSim({"--fault", "close-mid", "--size", "20000"});
    const RunResult r = Upload({"--port", m_pty, "--output", "station.qmf", "--quiet", "--json"});
    EXPECT_EQ(r.nExit, 1) << r.strErr;
    EXPECT_EQ(r.strErr, "tcc-upload: " + m_pty +
                            ": The line went away during the upload. Check the cable or USB adapter, then try again. "
                            "Nothing written.\n");
    EXPECT_EQ(Json(r)["error"].text, "line_lost");
    EXPECT_TRUE(Leftovers().empty());
}

// A pulled cable, and the adapter's port gone at the retry: each attempt's
// class is kept, in order, so the line's loss is not lost to the last one.
// The port is named by the simulator's link, which goes before the line
// does: the pty's own number may already be another test's at the retry.
TEST_F(UploadToolTest, EveryAttemptsClassIsKeptInOrder)
{
    const std::string link = m_dir + "/sim-link";
    StartSim({"--fault", "close-mid", "--size", "20000", "--link", link});
    const RunResult r =
        Upload({"--port", link, "--output", "station.qmf", "--quiet", "--json", "--retries", "1", "--retry-wait", "0"});
    EXPECT_EQ(r.nExit, 1) << r.strErr;
    auto json = Json(r);
    EXPECT_EQ(json["error"].text, "port_not_found");
    std::vector<std::string> classes;
    for (const JsonValue& item : json["attempt_errors"].items)
        classes.push_back(item.text);
    EXPECT_EQ(classes, (std::vector<std::string>{"line_lost", "port_not_found"})) << r.strOut;
}

// An output that cannot be written is found before the station is asked
// anything, and no port is opened: a missing folder, a folder in the
// target's place, and one bad output among several.
TEST_F(UploadToolTest, UnwritableOutputExitsThreeNamingPathAndCause)
{
    const std::string missing = m_dir + "/no-such-folder/station.qmf";
    RunResult r = Upload({"--port", m_dir + "/no-such-port", "--output", missing});
    EXPECT_EQ(r.nExit, 3) << r.strErr;
    EXPECT_EQ(r.strErr, "tcc-upload: " + m_dir + "/no-such-port: cannot write " + missing +
                            ": No such file or directory; nothing written\n");

    StartSim({"--size", "2000", "--verbose"});
    const std::string safePty = "pts_" + m_pty.substr(m_pty.rfind('/') + 1);
    ASSERT_EQ(mkdir((m_dir + "/taken").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((m_dir + "/" + safePty + ".d").c_str(), 0755), 0);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--output", "taken"},
                                                 {"--output", "taken/"},
                                                 {"-p", m_dir + "/no-such-port", "--output", "{port}.d"}}) {
        std::vector<std::string> all = {"--port", m_pty, "--json"};
        all.insert(all.end(), args.begin(), args.end());
        r = Upload(all);
        EXPECT_EQ(r.nExit, 3) << r.strErr;
        EXPECT_NE(r.strErr.find(": it is a folder; nothing written"), std::string::npos) << r.strErr;
        EXPECT_EQ(JsonByPort(r.strOut)[m_pty]["error"].text, "save_failed") << r.strOut;
    }
    StopSim();
    EXPECT_EQ(ReadAll(m_dir + "/sim.err").find("size request"), std::string::npos) << "no port was opened";
}

// The report's counts are the simulator's, seen from the other end: what it
// sent arrived, what it received was sent, and each of its noise blocks holds
// five frames the link must throw away (bad FCS, two wrong addresses, two
// wrong control bytes).
TEST_F(UploadToolTest, JsonReportAgreesWithTheStation)
{
    StartSim({"--size", "5000", "--fault", "noise", "--once"});
    RunResult r = Upload({"--port", m_pty, "--output", "station.qmf", "--json", "--quiet"});
    EXPECT_EQ(r.nExit, 0) << r.strErr;
    EXPECT_EQ(WaitSim(), 0);
    EXPECT_EQ(r.strErr, "") << "--quiet";
    auto json = Json(r);
    const auto served = Served();
    ASSERT_EQ(served.size(), 1u);
    EXPECT_EQ(json["result"].text, "saved");
    EXPECT_EQ(json["port"].text, m_pty);
    EXPECT_EQ(json["baud"].number, 115200);
    EXPECT_EQ(json["bytes"].number, 5000);
    EXPECT_EQ(json["output"].text, "station.qmf");
    EXPECT_EQ(json["attempts"].number, 1);
    EXPECT_EQ(json["wire_bytes_received"].number, served[0][1]);
    EXPECT_EQ(json["wire_bytes_sent"].number, served[0][2]);
    EXPECT_EQ(json["frames_dropped"].number, 4 * 5) << "5000 bytes: 5 chunks, 4 noise blocks";
    EXPECT_EQ(json["message"].nKind, JsonValue::NUL);
    EXPECT_EQ(json["error"].nKind, JsonValue::NUL);
    EXPECT_EQ(json["baud_source"].text, "UploadConfig.ini");
    EXPECT_EQ(json["sha256"].text, Sha256Of(ReadAll(m_dir + "/served.bin")));
    EXPECT_GE(json["seconds"].number, 0);

    r = Upload({"--port", m_dir + "/no-such-port", "--output", "station.qmf", "--json"});
    EXPECT_EQ(r.nExit, 1) << r.strErr;
    json = Json(r);
    EXPECT_EQ(json["result"].text, "failed");
    EXPECT_EQ(json["message"].text,
              "Unable to open serial port. The port is not there. Check the cable or USB "
              "adapter, and the port's number in Device Manager.");
    EXPECT_EQ(json["error"].text, "port_not_found");
    EXPECT_EQ(json["sha256"].nKind, JsonValue::NUL);
    EXPECT_EQ(json["baud"].nKind, JsonValue::NUL) << "the port never opened";
    EXPECT_EQ(json["wire_bytes_sent"].number, 0);

    r = Upload({"--port", m_dir + "/no-such-port", "--output", "no-such-folder/x.qmf", "--json"});
    EXPECT_EQ(r.nExit, 3) << r.strErr;
    json = Json(r);
    EXPECT_EQ(json["result"].text, "failed");
    EXPECT_EQ(json["attempts"].number, 0);
    EXPECT_NE(json["message"].text.find("cannot write no-such-folder/x.qmf"), std::string::npos);
    EXPECT_EQ(json["error"].text, "save_failed");
}

// What the image is held against, one station serving every row: exit
// status 4 and the JSON's verdict, the image saved all the same, and whether
// it changed since the file it replaced.
TEST_F(UploadToolTest, AnImageIsHeldAgainstWhatWasExpected)
{
    StartSim({"--size", "3000"});
    ASSERT_EQ(Upload({"--port", m_pty, "--output", "first.qmf", "--quiet"}).nExit, 0);
    const std::string image = ReadAll(m_dir + "/served.bin");
    ASSERT_EQ(image.size(), 3000u);
    const auto write = [&](const char* pszName, std::string bytes, int nFlip) {
        if (nFlip >= 0)
            bytes[nFlip] = static_cast<char>(bytes[nFlip] ^ 0x40);
        std::ofstream(m_dir + "/" + pszName, std::ios::binary) << bytes;
    };
    write("same.bin", image, -1);
    write("first.bin", image, 0);
    write("middle.bin", image, 1500);
    write("last.bin", image, 2999);
    write("longer.bin", image + "x", -1);
    write("shorter.bin", image.substr(0, 2000), -1);
    std::string upper = Sha256Of(image);
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    const std::string zero(64, '0');
    struct {
        std::vector<std::string> args;
        int nExit;
        const char* pszExpected;  // null: JSON null
        double dFirst;            // -1: null
        const char* pszChanged;   // "null", "false" or "true"
        const char* pszSaid;      // in the message and the closing line
    } rows[] = {
        {{"--expect-sha256", Sha256Of(image)}, 0, "matches", -1, "null", nullptr},
        {{"--expect-sha256", upper}, 0, "matches", -1, "false", nullptr},
        {{"--expect-sha256", zero}, 4, "differs", -1, "false", "its SHA-256 is "},
        {{"--compare", "same.bin"}, 0, "matches", -1, "false", nullptr},
        {{"--compare", "first.bin"}, 4, "differs", 0, "false", "differs from first.bin at byte 0 "},
        {{"--compare", "middle.bin"}, 4, "differs", 1500, "false", "at byte 1500 "},
        {{"--compare", "last.bin"}, 4, "differs", 2999, "false", "at byte 2999 "},
        {{"--compare", "longer.bin"}, 4, "differs", 3000, "false", "the image has 3000 bytes, the file 3001"},
        {{"--compare", "shorter.bin"}, 4, "differs", 2000, "false", "the image has 3000 bytes, the file 2000"},
        {{"--compare", "middle.bin", "--expect-sha256", Sha256Of(image)}, 4, "differs", 1500, "false", "byte 1500"},
        {{}, 0, nullptr, -1, "true", nullptr},   // after the file was changed below
        {{}, 0, nullptr, -1, "false", nullptr},  // through a link to the same bytes
    };
    for (auto& row : rows) {
        if (row.args.empty() && row.pszChanged == std::string("true"))
            std::ofstream(m_dir + "/station.qmf") << "what another station held";
        if (row.args.empty() && row.pszChanged == std::string("false")) {
            std::rename((m_dir + "/station.qmf").c_str(), (m_dir + "/kept.qmf").c_str());
            symlink("kept.qmf", (m_dir + "/station.qmf").c_str());
        }
        std::vector<std::string> args{"--port", m_pty, "--output", "station.qmf", "--json"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const RunResult r = Upload(args);
        const std::string what = row.args.empty() ? "changed" : row.args[0] + " " + row.args[1];
        EXPECT_EQ(r.nExit, row.nExit) << what << ": " << r.strErr;
        EXPECT_TRUE(ReadAll(m_dir + "/station.qmf") == image) << what << ": saved all the same";
        if (std::filesystem::is_symlink(m_dir + "/station.qmf")) {
            EXPECT_TRUE(ReadAll(m_dir + "/kept.qmf") == image) << "the link's file replaced, the link kept";
        }
        auto json = Json(r);
        EXPECT_EQ(json["result"].text, "saved") << what;
        EXPECT_EQ(json["expected"].nKind == JsonValue::NUL ? "null" : json["expected"].text,
                  row.pszExpected ? row.pszExpected : "null")
            << what;
        EXPECT_EQ(json["first_difference"].nKind == JsonValue::NUL ? -1 : json["first_difference"].number, row.dFirst)
            << what;
        const JsonValue& changed = json["changed"];
        EXPECT_EQ(changed.nKind == JsonValue::NUL ? "null"
                  : changed.number != 0           ? "true"
                                                  : "false",
                  row.pszChanged)
            << what;
        EXPECT_EQ(json["message"].nKind == JsonValue::NUL, row.pszSaid == nullptr) << what;
        if (row.pszSaid) {
            EXPECT_NE(json["message"].text.find(row.pszSaid), std::string::npos)
                << what << ": " << json["message"].text;
            EXPECT_NE(r.strErr.find(row.pszSaid), std::string::npos) << what << ": " << r.strErr;
        }
        const char* pszLineEnd = changed.nKind == JsonValue::NUL ? ""
                                 : changed.number != 0           ? "; changed"
                                                                 : "; unchanged";
        EXPECT_NE(r.strErr.find(Sha256Of(image) + pszLineEnd), std::string::npos) << what << ": " << r.strErr;
    }

    // A file to compare with that cannot be read is a usage error: no port
    // is opened, nothing written.
    const auto before = Served().size();
    for (const char* pszFile : {"missing.bin", "."}) {
        const RunResult r = Upload({"--port", m_pty, "--output", "other.qmf", "--json", "--compare", pszFile});
        EXPECT_EQ(r.nExit, 2) << pszFile;
        EXPECT_EQ(r.strOut, "") << pszFile;
        EXPECT_NE(r.strErr.find(std::string("--compare ") + pszFile + ": cannot read it: "), std::string::npos)
            << r.strErr;
    }
    EXPECT_EQ(Upload({"--port", m_pty, "--output", "x.qmf", "--expect-sha256", "12ab"}).nExit, 2);
    EXPECT_EQ(Served().size(), before) << "the station was not asked";
    EXPECT_FALSE(std::filesystem::exists(m_dir + "/other.qmf"));
}

// Each port's run adds its line to the run log, whether it saved or failed;
// --no-log adds none; a log that cannot be written costs the run nothing and
// is said once, with --verbose.
TEST_F(UploadToolTest, EachPortsRunIsLoggedUnlessToldNot)
{
    StartSim({"--size", "2000"});
    const std::string missing = m_dir + "/no-such-port";
    const std::string log = m_dir + "/state/tcc-upload/runs.jsonl";
    ChildSetup setup;
    setup.env = {"XDG_STATE_HOME=" + m_dir + "/state"};
    RunResult r = Upload({"-p", m_pty, "-p", missing, "-o", "{port}.qmf", "--quiet"}, setup);
    EXPECT_EQ(r.nExit, 1) << r.strErr;
    std::map<std::string, std::map<std::string, JsonValue>> lines = JsonByPort(ReadAll(log));
    ASSERT_EQ(lines.size(), 2u) << ReadAll(log);
    EXPECT_EQ(lines[m_pty]["result"].text, "saved");
    EXPECT_EQ(lines[m_pty]["sha256"].text, Sha256Of(ReadAll(m_dir + "/served.bin")));
    EXPECT_EQ(lines[missing]["error"].text, "port_not_found");
    for (auto& [port, line] : lines) {
        EXPECT_EQ(line["front_end"].text, "tcc-upload") << port;
        EXPECT_TRUE(std::regex_match(line["time"].text, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")))
            << line["time"].text;
        EXPECT_FALSE(line["version"].text.empty());
    }

    const std::string logged = ReadAll(log);
    r = Upload({"-p", m_pty, "-o", "again.qmf", "--no-log"}, setup);
    EXPECT_EQ(r.nExit, 0) << r.strErr;
    EXPECT_EQ(ReadAll(log), logged) << "--no-log";

    // A file where the folder goes, and a FIFO nothing reads in the log's
    // place: the runs go on, and --verbose says so once.
    std::filesystem::create_directories(m_dir + "/fifo-state/tcc-upload");
    ASSERT_EQ(mkfifo((m_dir + "/fifo-state/tcc-upload/runs.jsonl").c_str(), 0600), 0);
    for (const std::string& state : {m_dir + "/served.bin", m_dir + "/fifo-state"}) {
        setup.env = {"XDG_STATE_HOME=" + state};
        const pid_t pid = SpawnUpload({"-p", m_pty, "-p", missing, "-o", "{port}-3.qmf", "--verbose"}, -1, setup);
        EXPECT_EQ(WaitExitOrKill(pid, 20), 1) << state;
        const std::string err = ReadAll(m_dir + "/upload.err");
        EXPECT_NE(err.find(m_pty + ": saved 2000 bytes"), std::string::npos) << err;
        EXPECT_EQ(Occurrences(err, "; runs are not logged"), 1u) << err;
    }
}

// A file size limit (ulimit -f) that an image exceeds fails that port's save
// as the file system would, and no other; the signal the limit raises is no
// request to stop, from the first write on (an adapter's usage error is
// logged before any port opens). The run log line that did not fit is cut
// short, and the next run's line still starts a line of its own.
TEST_F(UploadToolTest, AFileSizeLimitFailsTheSaveThatExceedsIt)
{
    const std::string big = StartStation(0, {"--size", "5000"});
    const std::string small = StartStation(1, {"--size", "500"});
    const std::string log = m_dir + "/state/tcc-upload/runs.jsonl";
    std::filesystem::create_directories(m_dir + "/state/tcc-upload");
    std::ofstream(log) << std::string(3900, 'x') << "\n";
    ChildSetup setup;
    setup.nFileSizeLimit = 4000;
    RunResult r = Upload({"-p", big, "-p", small, "-o", "{port}.qmf", "--json"}, setup);
    EXPECT_EQ(r.nExit, 3) << r.strErr;
    auto json = JsonByPort(r.strOut);
    EXPECT_EQ(json[big]["error"].text, "save_failed") << r.strOut;
    EXPECT_NE(json[big]["message"].text.find("File too large"), std::string::npos) << r.strOut;
    EXPECT_EQ(json[small]["result"].text, "saved") << r.strOut;
    EXPECT_NE(r.strErr.find(small + ": saved 500 bytes"), std::string::npos) << r.strErr;
    EXPECT_EQ(std::filesystem::file_size(log), 4000u) << "a line cut short at the limit";

    r = Upload({"-p", "usb:NOPE", "-o", "x.qmf"}, setup);
    EXPECT_EQ(r.nExit, 2) << r.strErr;

    r = Upload({"-p", small, "-o", "again.qmf"});
    EXPECT_EQ(r.nExit, 0) << r.strErr;
    const std::string text = ReadAll(log);
    const std::size_t nLast = text.rfind('\n', text.size() - 2) + 1;
    std::map<std::string, JsonValue> object;
    EXPECT_TRUE(CFlatJson().Parse(text.substr(nLast), &object)) << text.substr(nLast);
    EXPECT_EQ(object["result"].text, "saved");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3) << "the old line, the cut one, the new one";
}

// --baud replaces UploadConfig.ini; without it the file decides as it does
// for the window, but the window's boxes about it are never shown: the rate
// and its source are in the JSON and, with --verbose, on standard error.
TEST_F(UploadToolTest, BaudOptionReplacesTheRateFile)
{
    struct {
        const char* pszFile;  // nullptr: no file
        const char* pszBaud;  // nullptr: no --baud
        double baud;
        const char* pszSource;
        const char* pszWarning;  // without --quiet, nullptr: none
    } const cases[] = {
        {nullptr, "9600", 9600, "--baud", nullptr},
        {"BAUDRATE=4800\n", "19200", 19200, "--baud", nullptr},
        {"BAUDRATE=38400\n", "57600", 57600, "--baud", nullptr},
        {"BAUDRATE=38400\n", nullptr, 38400, "UploadConfig.ini", nullptr},
        {nullptr, nullptr, 115200, "default", nullptr},
        {"PORT=COM2\n", nullptr, 115200, "default", nullptr},
        {"BAUDRATE=4800\n", nullptr, 57600, "UploadConfig.ini",
         "tcc-upload: UploadConfig.ini names 4800 baud, which the station does not speak; using 57600\n"},
    };
    StartSim({"--size", "3000"});
    for (const auto& c : cases) {
        std::remove((m_dir + "/UploadConfig.ini").c_str());
        if (c.pszFile)
            std::ofstream(m_dir + "/UploadConfig.ini") << c.pszFile;
        std::vector<std::string> args = {"--port", m_pty, "--output", "station.qmf", "--json"};
        if (c.pszBaud)
            args.push_back(std::string("--baud=") + c.pszBaud);
        RunResult r = Upload(args);
        EXPECT_EQ(r.nExit, 0) << r.strErr;
        EXPECT_EQ(Json(r)["baud"].number, c.baud) << r.strOut;
        EXPECT_EQ(Json(r)["baud_source"].text, c.pszSource) << r.strOut;
        EXPECT_EQ(r.strErr.find("Using Defaults"), std::string::npos) << r.strErr;
        EXPECT_EQ(r.strErr.rfind(c.pszWarning ? c.pszWarning : "tcc-upload: " + m_pty + ": saved", 0), 0u) << r.strErr;
        EXPECT_NE(r.strErr.find(" baud (" + std::string(c.pszSource) + "); SHA-256 "), std::string::npos);
        args.push_back("-q");
        EXPECT_EQ(Upload(args).strErr, "") << "quiet means quiet";
        args.back() = "-v";
        r = Upload(args);
        EXPECT_NE(r.strErr.find("tcc-upload: " + std::to_string(int(c.baud)) + " baud (" + c.pszSource + ")\n"),
                  std::string::npos)
            << r.strErr;
    }
    EXPECT_TRUE(ReadAll(m_dir + "/station.qmf") == ReadAll(m_dir + "/served.bin"));
}

// Started from any folder, tcc-upload finds the rate file the installers put
// beside it; a file in the working directory still wins. baud_source names
// the file read: "UploadConfig.ini" for the working directory's, as before,
// the full path for the one beside the program. No station is needed: the
// rate is chosen, and said, before any port opens.
TEST_F(UploadToolTest, TheRateFileBesideTheProgramServesAnyWorkingDirectory)
{
    const std::string bin = m_dir + "/bin/", beside = bin + "UploadConfig.ini";
    std::filesystem::create_directory(bin);
    // A copy, not a link: the program's folder is where the executable is.
    std::filesystem::copy_file(TCC_UPLOAD, bin + "tcc-upload");
    struct {
        const char* pszWorking;  // nullptr: no file
        const char* pszBeside;
        int nBaud;
        std::string strSource;
    } const cases[] = {
        {nullptr, nullptr, 115200, "default"},
        {nullptr, "BAUDRATE=9600\r\n", 9600, beside},
        {"BAUDRATE=38400\n", "BAUDRATE=9600\r\n", 38400, "UploadConfig.ini"},
        {nullptr, "BAUDRATE=4800\r\n", 57600, beside},
    };
    for (const auto& c : cases) {
        std::remove((m_dir + "/UploadConfig.ini").c_str());
        std::remove(beside.c_str());
        if (c.pszWorking)
            std::ofstream(m_dir + "/UploadConfig.ini") << c.pszWorking;
        if (c.pszBeside)
            std::ofstream(beside) << c.pszBeside;
        const int outFd = open((m_dir + "/upload.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const std::vector<std::string> argv = {
            bin + "tcc-upload", "--port", m_dir + "/no-such-port", "--output", "x.qmf", "--json", "--verbose"};
        RunResult r;
        r.nExit = WaitExit(Spawn(argv, m_dir, outFd, m_dir + "/upload.err"));
        close(outFd);
        r.strErr = ReadAll(m_dir + "/upload.err");
        r.strOut = ReadAll(m_dir + "/upload.out");
        EXPECT_EQ(r.nExit, 1) << r.strErr;
        EXPECT_EQ(Json(r)["baud_source"].text, c.strSource) << r.strOut;
        const std::string said = "tcc-upload: " + std::to_string(c.nBaud) + " baud (" + c.strSource + ")\n";
        EXPECT_NE(r.strErr.find(said), std::string::npos) << r.strErr;
        const bool bWarned = r.strErr.find("tcc-upload: " + c.strSource + " names 4800 baud") != std::string::npos;
        EXPECT_EQ(bWarned, c.nBaud == 57600) << r.strErr;
    }
}

// Only a failed retrieval is tried again, each time with a new uploader; a
// saved image or a failed save ends the run.
TEST_F(UploadToolTest, RetriesFollowAFailedRetrievalOnly)
{
    const std::string oversize =
        "The station answered against the protocol: announced 524289 bytes, over the "
        "524288 limit. Note this message and call for service.";
    struct {
        std::vector<std::string> simArgs;
        std::string strRetries;
        int nExit;
        double attempts;
        std::size_t nServed;
        std::string strErr;
        std::vector<std::string> attemptErrors;
    } const cases[] = {
        {{"--fault", "oversize", "--first-transfer-only"},
         "0",
         1,
         1,
         0,
         ": " + oversize + " Nothing written.",
         {"bad_reply"}},
        {{"--fault", "oversize", "--first-transfer-only"}, "2", 0, 2, 1, "; 2 attempts, ", {"bad_reply"}},
        {{"--fault", "short-last", "--first-transfer-only"},
         "1",
         0,
         2,
         2,
         ": attempt 1 of 2 failed; trying again in 0 s",
         {"bad_reply"}},
        {{"--fault", "oversize"},
         "2",
         1,
         3,
         0,
         ": " + oversize + " Nothing written after 3 attempts.",
         {"bad_reply", "bad_reply", "bad_reply"}},
        {{}, "3", 0, 1, 1, "saved 3000 bytes", {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> simArgs = {"--size", "3000"};
        simArgs.insert(simArgs.end(), c.simArgs.begin(), c.simArgs.end());
        StartSim(simArgs);
        std::remove((m_dir + "/station.qmf").c_str());
        const RunResult r = Upload(
            {"--port", m_pty, "--output", "station.qmf", "--json", "--retries", c.strRetries, "--retry-wait", "0"});
        StopSim();
        EXPECT_EQ(r.nExit, c.nExit) << r.strErr;
        EXPECT_NE(r.strErr.find(c.strErr), std::string::npos) << r.strErr;
        auto json = Json(r);
        EXPECT_EQ(json["attempts"].number, c.attempts) << r.strErr;
        std::vector<std::string> attemptErrors;
        for (const JsonValue& item : json["attempt_errors"].items)
            attemptErrors.push_back(item.text);
        EXPECT_EQ(attemptErrors, c.attemptErrors) << r.strOut;
        EXPECT_EQ(Served().size(), c.nServed) << "transfers the station finished";
        if (c.nExit == 0)
            EXPECT_TRUE(ReadAll(m_dir + "/station.qmf") == ReadAll(m_dir + "/served.bin"));
        else {
            EXPECT_EQ(json["message"].text, oversize);
            EXPECT_TRUE(Leftovers().empty());
        }
    }
}

// TCC_UPLOAD_ROOT puts a made-up /dev/serial/by-id in front of the program,
// whose adapters are links to the simulator's pty.
TEST_F(UploadToolTest, PortAutoTakesTheOneUsbAdapterOrListsThem)
{
    StartSim({"--size", "2000"});
    const std::string root = m_dir + "/root";
    const std::string byId = root + "/dev/serial/by-id";
    ASSERT_EQ(std::system(("mkdir -p '" + byId + "'").c_str()), 0);
    ChildSetup env;
    env.env = {"TCC_UPLOAD_ROOT=" + root};
    const std::vector<std::string> args = {"--port", "auto", "--output", "station.qmf", "--json"};

    RunResult r = Upload(args, env);
    EXPECT_EQ(r.nExit, 2) << r.strErr;
    EXPECT_NE(r.strErr.find("--port auto needs exactly one USB serial adapter, and there is none"), std::string::npos)
        << r.strErr;
    EXPECT_EQ(Json(r)["error"].text, "no_adapter") << "a usage error, but one with a class of its own";

    ASSERT_EQ(symlink(m_pty.c_str(), (byId + "/usb-Halvorix_Sim_0001-if00").c_str()), 0);
    const std::string line = m_pty + "  USB adapter (/dev/serial/by-id/usb-Halvorix_Sim_0001-if00)";
    r = Upload(args, env);
    EXPECT_EQ(r.nExit, 0) << r.strErr;
    EXPECT_NE(r.strErr.find("tcc-upload: --port auto: " + line + "\n"), std::string::npos) << r.strErr;
    EXPECT_EQ(Json(r)["port"].text, m_pty);
    EXPECT_TRUE(ReadAll(m_dir + "/station.qmf") == ReadAll(m_dir + "/served.bin"));

    r = Upload({"--list-ports"}, env);
    EXPECT_EQ(r.nExit, 0);
    EXPECT_EQ(r.strOut, line + "\n");

    // The adapter named, then the usage error of what follows: standard
    // error keeps the order in which they were said.
    const std::string named = "tcc-upload: --port auto: " + line + "\n";
    const struct {
        std::vector<std::string> args;
        std::string strErr;
    } orders[] = {
        {{"-p", "auto", "-p", "usb:NOPE", "-o", "{port}.qmf"},
         named + "tcc-upload: --port usb:NOPE needs exactly one matching USB serial adapter, and there is none\n"},
        {{"-p", "auto", "-p", "auto", "-o", "{port}.qmf"},
         named + named + "tcc-upload: --output {port}.qmf gives " + m_pty + " and " + m_pty + " the same file " +
             PtyFileName(m_pty) + ".qmf\nTry 'tcc-upload --help'.\n"},
    };
    for (const auto& c : orders) {
        r = Upload(c.args, env);
        EXPECT_EQ(r.nExit, 2);
        EXPECT_EQ(r.strErr, c.strErr);
    }

    ASSERT_EQ(symlink("/dev/null", (byId + "/usb-Other_Adapter-if00").c_str()), 0);
    r = Upload(args, env);
    EXPECT_EQ(r.nExit, 2) << r.strErr;
    EXPECT_NE(
        r.strErr.find("and 2 are present:\n  /dev/null  USB adapter (/dev/serial/by-id/usb-Other_Adapter-if00)\n  " +
                      line + "\n"),
        std::string::npos)
        << r.strErr;
    EXPECT_EQ(Json(r)["error"].text, "several_adapters");
}

// Three stations in one command, each into its own file, the JSON line of
// each as it ends; one station failing leaves the other two saved. The
// simulators serve different images, so a file that went to the wrong port
// shows.
TEST_F(UploadToolTest, SeveralStationsAtOnceEachIntoItsOwnFile)
{
    struct {
        int nFailing;  // the station that announces an oversize image, 0: none
        int nExit;
    } const cases[] = {{0, 0}, {2, 1}};
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--json", "-o", "st-{port}-{date}.qmf", "--retries=0"};
        std::map<std::string, int> stationOf;
        for (int n = 1; n <= 3; ++n) {
            std::vector<std::string> sim = {"--size", std::to_string(20000 + n * 1111), "--seed", std::to_string(n)};
            if (n == c.nFailing)
                sim.insert(sim.end(), {"--fault", "oversize"});
            const std::string pty = StartStation(n, sim);
            stationOf[pty] = n;
            args.insert(args.end(), {"-p", pty});
        }
        const RunResult r = Upload(args);
        StopSim();
        EXPECT_EQ(r.nExit, c.nExit) << r.strErr;
        auto objects = JsonByPort(r.strOut);
        ASSERT_EQ(objects.size(), 3u) << r.strOut;
        for (auto& [pty, json] : objects) {
            const int n = stationOf.at(pty);
            const std::string served = ReadAll(m_dir + "/served-" + std::to_string(n) + ".bin");
            const std::regex file("st-pts_" + pty.substr(9) + R"(-\d{8}-\d{6}\.qmf)");
            EXPECT_TRUE(std::regex_match(json["output"].text, file)) << json["output"].text;
            if (n == c.nFailing) {
                EXPECT_EQ(json["result"].text, "failed");
                EXPECT_EQ(json["error"].text, "bad_reply");
                EXPECT_NE(r.strErr.find("tcc-upload: " + pty +
                                        ": The station answered against the protocol: "
                                        "announced 524289 bytes"),
                          std::string::npos)
                    << r.strErr;
                continue;
            }
            EXPECT_EQ(json["result"].text, "saved") << r.strErr;
            EXPECT_EQ(json["bytes"].number, served.size());
            EXPECT_EQ(json["sha256"].text, Sha256Of(served));
            EXPECT_EQ(Sha256Of(ReadAll(m_dir + "/" + json["output"].text)), Sha256Of(served));
            EXPECT_NE(r.strErr.find("tcc-upload: " + pty + ": saved " + std::to_string(served.size()) + " bytes to " +
                                    json["output"].text),
                      std::string::npos)
                << r.strErr;
        }
        EXPECT_EQ(Leftovers().size(), c.nFailing ? 2u : 3u) << "only the saved images, no temporary file";
        std::system(("rm -f '" + m_dir + "'/st-*").c_str());
    }
}

// Stations that fail each their own way, read in one command: each port's
// JSON gives its class, the words that name the cause and what the line
// showed; a log follows a silence with the answer that ends it, once; and
// each failed attempt's class is listed.
TEST_F(UploadToolTest, EachFailureIsToldByItsClassInOneBatch)
{
    struct {
        std::vector<std::string> sim;
        const char* pszError;  // "": saved
        const char* pszMessage;
        double badCheck;
        double unwanted;  // well-formed frames for another: no noise
        bool bSilence;
    } const stations[] = {
        {{"--fault", "no-answer"}, "no_reply", "The station did not answer. Check that it is on", 0, 0, true},
        {{"--fault", "oversize"}, "bad_reply", ": announced 524289 bytes, over the 524288 limit. Note", 0, 0, false},
        {{"--fault", "flip:1e-4", "--seed", "3"},
         "line_noisy",
         "The line is noisy: 3 frames failed their check.",
         3,
         0,
         false},
        {{"--stall-ms", "6000", "--stall-at", "2"}, "", "", 0, 0, true},
        // Two noise blocks before the silence: one damaged frame in each, and
        // four frames for others that are no noise and are not counted.
        {{"--fault", "noise", "--stall-ms", "11000", "--stall-at", "2"},
         "line_noisy",
         "The line is noisy: 2 frames failed their check.",
         2,
         8,
         true},
    };
    std::vector<std::string> args = {"--json", "-o", "{port}.qmf"};
    std::map<std::string, int> stationOf;
    for (int n = 0; n < static_cast<int>(std::size(stations)); ++n) {
        std::vector<std::string> sim = {"--size", "20000"};
        sim.insert(sim.end(), stations[n].sim.begin(), stations[n].sim.end());
        const std::string pty = StartStation(n + 1, sim);
        stationOf[pty] = n;
        args.insert(args.end(), {"-p", pty});
    }
    // Each port's own settings are back after the run, however its port
    // ended: a rate and an output processing of their own, which no DCB
    // carries, so that only the settings read at open can put them back.
    std::map<std::string, termios> linesBefore;
    for (const auto& [pty, n] : stationOf) {
        termios own = LineOf(pty);
        cfsetspeed(&own, B9600);
        own.c_oflag |= OPOST | ONLCR;
        linesBefore[pty] = LineOf(pty, &own);
    }
    const RunResult r = Upload(args);  // standard error is a file: a log
    for (const auto& [pty, line] : linesBefore)
        EXPECT_TRUE(SameLine(LineOf(pty), line)) << pty << ": the port's own settings put back";
    StopSim();
    EXPECT_EQ(r.nExit, 1) << r.strErr;
    auto objects = JsonByPort(r.strOut);
    ASSERT_EQ(objects.size(), std::size(stations)) << r.strOut;
    for (auto& [pty, json] : objects) {
        const auto& c = stations[stationOf.at(pty)];
        SCOPED_TRACE(pty + " " + c.pszError);
        const bool bSaved = *c.pszError == '\0';
        EXPECT_EQ(json["result"].text, bSaved ? "saved" : "failed");
        EXPECT_EQ(json["error"].text, c.pszError);
        EXPECT_NE(json["message"].text.find(c.pszMessage), std::string::npos) << json["message"].text;
        ASSERT_EQ(json["attempt_errors"].items.size(), bSaved ? 0u : 1u);
        if (!bSaved) {
            EXPECT_EQ(json["attempt_errors"].items[0].text, c.pszError);
        }
        const JsonValue& drops = json["drops"];
        EXPECT_EQ(drops.Member("bad_check").number, c.badCheck);
        EXPECT_EQ(drops.Member("unwanted").number, c.unwanted);
        EXPECT_EQ(json["frames_dropped"].number, c.badCheck + c.unwanted);
        if (json["error"].text == "line_noisy") {
            const auto nNoise = static_cast<long>(drops.Member("bad_check").number + drops.Member("overlong").number);
            EXPECT_NE(json["message"].text.find(": " + std::to_string(nNoise) + " frames failed their check"),
                      std::string::npos)
                << "the count said is the drops counted as noise";
        }
        for (const char* pszKind : {"parity", "framing", "overrun"})
            EXPECT_EQ(json["line_errors"].Member(pszKind).number, 0) << "a pty has no parity: " << pszKind;
        // The seconds are the clock's: their form is checked, and that the
        // answer never says less than the notice of the silence it ends.
        const std::string head = "tcc-upload: " + pty + ": ";
        std::smatch silence, answer;
        const bool bSilence =
            std::regex_search(r.strErr, silence, std::regex(head + R"(no reply for (\d+) s, giving up at 10 s\n)"));
        const bool bAnswer =
            std::regex_search(r.strErr, answer, std::regex(head + R"(answering again after (\d+) s\n)"));
        EXPECT_EQ(bSilence, c.bSilence) << r.strErr;
        EXPECT_EQ(bAnswer, c.bSilence && bSaved) << r.strErr;
        if (bAnswer) {
            const std::size_t nSilence = static_cast<std::size_t>(silence.position(0));
            const std::size_t nAnswer = static_cast<std::size_t>(answer.position(0));
            EXPECT_GE(std::stoi(answer[1]), std::stoi(silence[1])) << r.strErr;
            EXPECT_LT(nSilence, nAnswer);
            EXPECT_LT(nAnswer, r.strErr.find(head + "saved 20000 bytes")) << "before the closing line";
            EXPECT_EQ(r.strErr.find(head + "answering again", nAnswer + 1), std::string::npos) << "once";
        }
    }
}

// --output -: the image and nothing else on standard output, read through a
// pipe as `tcc-upload -o - | sha256sum` would.
TEST_F(UploadToolTest, OutputDashWritesTheImageToAPipe)
{
    StartSim({"--size", "70000", "--seed", "9"});
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = SpawnUpload({"-p", m_pty, "-o", "-"}, fds[1]);
    close(fds[1]);
    const std::string out = ReadToEnd(fds[0]);
    EXPECT_EQ(WaitExit(pid), 0) << ReadAll(m_dir + "/upload.err");
    const std::string served = ReadAll(m_dir + "/served.bin");
    EXPECT_EQ(out.size(), served.size());
    EXPECT_TRUE(out == served);
    EXPECT_NE(ReadAll(m_dir + "/upload.err").find(": saved 70000 bytes to - in "), std::string::npos);
    EXPECT_TRUE(Leftovers().empty());
}

// Standard output closed by its reader (`| head -1`, a dropped session): the
// runs go on and end as they would, their files saved or nothing left, never
// cut off by the pipe with temporary files behind.
TEST_F(UploadToolTest, AReaderThatWentAwayCutsNoRunShort)
{
    struct {
        const char* pszName;
        std::vector<std::string> args;
        int nStations;
        int nExit;
        std::size_t nFilesLeft;  // the saved images
    } const cases[] = {
        {"reports", {"--json", "-o", "{port}.qmf"}, 2, 0, 2},
        {"image", {"-o", "-"}, 1, 3, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        std::vector<std::string> args = c.args;
        for (int n = 1; n <= c.nStations; ++n)
            args.insert(args.end(), {"-p", StartStation(n, {"--size", "30000", "--seed", std::to_string(n)})});
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        close(fds[0]);
        const pid_t pid = SpawnUpload(args, fds[1]);
        close(fds[1]);
        const int nExit = WaitExit(pid);
        StopSim();
        const std::string err = ReadAll(m_dir + "/upload.err");
        EXPECT_EQ(nExit, c.nExit) << err;
        EXPECT_EQ(Leftovers().size(), c.nFilesLeft) << err;
        if (c.nExit == 3) {
            EXPECT_NE(err.find("cannot write standard output: Broken pipe; 0 of 30000 bytes written\n"),
                      std::string::npos)
                << err;
        }
        std::system(("rm -f '" + m_dir + "'/*.qmf").c_str());
        m_stations.clear();
    }
}

// Ctrl-C while three stations are silent mid-transfer: the log has said so
// (that is what the test waits for), every port ends as interrupted with
// status 130, and no temporary file is left.
TEST_F(UploadToolTest, InterruptDuringABatchLeavesNothing)
{
    std::vector<std::string> args = {"--json", "-o", "{port}.qmf"};
    for (int n = 1; n <= 3; ++n)
        args.insert(args.end(), {"-p", StartStation(n, {"--size", "30000", "--stall-ms", "60000", "--stall-at", "2"})});
    const int outFd = open((m_dir + "/upload.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const pid_t pid = SpawnUpload(args, outFd);
    close(outFd);
    // Stderr is a file, not a terminal: each silence is said once, at 5 s.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::string err;
    while (std::count(err.begin(), err.end(), '\n') < 3 && std::chrono::steady_clock::now() < deadline) {
        usleep(50 * 1000);
        err = ReadAll(m_dir + "/upload.err");
    }
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 3) << err;
    EXPECT_EQ(err.find("tcc-upload: /dev/pts/"), 0u) << err;
    EXPECT_TRUE(std::regex_search(err, std::regex(R"(: no reply for \d+ s, giving up at 10 s\n)"))) << err;
    std::vector<std::string> names = Leftovers();
    EXPECT_EQ(names.size(), 3u) << "the temporary files";
    kill(pid, SIGINT);
    EXPECT_EQ(WaitExit(pid), 130);
    const auto objects = JsonByPort(ReadAll(m_dir + "/upload.out"));
    EXPECT_EQ(objects.size(), 3u);
    for (auto& entry : objects) {
        auto json = entry.second;
        EXPECT_EQ(json["error"].text, "interrupted");
        EXPECT_EQ(json["result"].text, "failed");
    }
    EXPECT_TRUE(Leftovers().empty());
}

// A port missing at the first attempt: tried again after the pause (2 s
// unless --retry-wait says otherwise), and waited for. The link to the station appears once the first attempt has
// failed, as an adapter comes back after a replug; one that never appears
// fails every attempt.
TEST_F(UploadToolTest, RetryWaitsForAPortThatComesBack)
{
    StartSim({"--size", "2000"});
    const std::string port = m_dir + "/ttyUSB-replugged";
    const std::vector<std::string> argv = {TCC_UPLOAD,    "--port", port,        "--output",
                                           "station.qmf", "--json", "--retries", "1"};
    const int outFd = open((m_dir + "/upload.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const pid_t pid = Spawn(argv, m_dir, outFd, m_dir + "/upload.err");
    close(outFd);
    for (int i = 0; i < 1000 && ReadAll(m_dir + "/upload.err").find("trying again in 2 s") == std::string::npos; ++i)
        usleep(10000);
    ASSERT_EQ(symlink(m_pty.c_str(), port.c_str()), 0);
    RunResult r;
    r.nExit = WaitExit(pid);
    r.strErr = ReadAll(m_dir + "/upload.err");
    r.strOut = ReadAll(m_dir + "/upload.out");
    EXPECT_EQ(r.nExit, 0) << r.strErr;
    EXPECT_NE(r.strErr.find("attempt 1 of 2 failed; trying again in 2 s\n"), std::string::npos) << r.strErr;
    EXPECT_EQ(r.strErr.find("has not come back"), std::string::npos) << r.strErr;
    EXPECT_EQ(Json(r)["attempts"].number, 2);
    EXPECT_TRUE(ReadAll(m_dir + "/station.qmf") == ReadAll(m_dir + "/served.bin"));
    unlink(port.c_str());

    r = Upload({"--port", port, "--output", "station.qmf", "--json", "--retries", "2", "--retry-wait", "0"});
    EXPECT_EQ(r.nExit, 1) << r.strErr;
    EXPECT_EQ(Json(r)["attempts"].number, 3);
    const std::string missing = "tcc-upload: " + port + " has not come back; trying it all the same\n";
    EXPECT_NE(r.strErr.find(missing), r.strErr.rfind(missing)) << "before each retry: " << r.strErr;
}

// --list-ports and --port usb:... on a made-up sysfs: two adapters with the
// same ids, a built-in UART and a pty.
TEST_F(UploadToolTest, ListPortsJsonAndUsbChoicesReadTheSameSysfs)
{
    namespace fs = std::filesystem;
    const std::string root = m_dir + "/root";
    const auto file = [&](const std::string& path, const std::string& text) {
        fs::create_directories(fs::path(root + path).parent_path());
        std::ofstream(root + path) << text << "\n";
    };
    const auto tty = [&](const std::string& name, const std::string& device, const std::string& driver) {
        fs::create_directories(root + device + "/tty/" + name);
        fs::create_directories(root + driver);
        fs::create_symlink(root + driver, root + device + "/driver");
        fs::create_symlink(root + device, root + device + "/tty/" + name + "/device");
        fs::create_directories(root + "/sys/class/tty");
        fs::create_symlink(root + device + "/tty/" + name, root + "/sys/class/tty/" + name);
    };
    for (const char* pszNumber : {"0", "1"}) {
        const std::string usb = std::string("/sys/devices/usb1/1-") + pszNumber;
        file(usb + "/idVendor", "0403");
        file(usb + "/idProduct", "6001");
        file(usb + "/product", "FT232R USB UART");
        file(usb + "/serial", std::string("A") + pszNumber);
        tty(std::string("ttyUSB") + pszNumber, usb + "/1-0:1.0", "/sys/bus/usb-serial/drivers/ftdi_sio");
    }
    tty("ttyS0", "/sys/devices/platform/serial8250/serial8250:0.0", "/sys/bus/platform/drivers/serial8250");
    file("/dev/pts/7", "");
    file("/dev/ttyUSB1", "");
    fs::create_directories(root + "/dev/serial/by-id");
    fs::create_symlink(root + "/dev/ttyUSB1", root + "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0");
    ChildSetup env;
    env.env = {"TCC_UPLOAD_ROOT=" + root};

    RunResult r = Upload({"--list-ports", "--json"}, env);
    EXPECT_EQ(r.nExit, 0) << r.strErr;
    std::vector<std::map<std::string, JsonValue>> ports;
    ASSERT_TRUE(CFlatJson().ParseArray(r.strOut, &ports)) << r.strOut;
    std::vector<std::string> names;
    for (auto& port : ports)
        names.push_back(port["port"].text + " " + port["kind"].text + " " + port["serial"].text);
    EXPECT_EQ(names, (std::vector<std::string>{"/dev/ttyS0 uart ", "/dev/ttyUSB0 usb A0", "/dev/ttyUSB1 usb A1"}));
    r = Upload({"--list-ports", "--all", "--json"}, env);
    ASSERT_TRUE(CFlatJson().ParseArray(r.strOut, &ports)) << r.strOut;
    EXPECT_EQ(ports.size(), 4u);
    EXPECT_EQ(Upload({"--list-ports"}, env).strOut.find("/dev/pts/7"), std::string::npos);
    EXPECT_NE(Upload({"--list-ports", "--all"}, env).strOut.find("/dev/pts/7  pty\n"), std::string::npos);

    struct {
        const char* pszSpec;
        int nExit;
        const char* pszErr;
    } const cases[] = {
        {"usb:0403:6001", 2, "needs exactly one matching USB serial adapter, and 2 are present:\n  /dev/ttyUSB0  "},
        {"usb:A2", 2, "tcc-upload: --port usb:A2 needs exactly one matching USB serial adapter, and there is none\n"},
        {"usb:", 2, "--port usb: needs a serial number or VVVV:PPPP"},
        // Chosen from the made-up tree, opened on the machine, where it is not.
        {"usb:a1", 1, "tcc-upload: --port usb:a1: /dev/ttyUSB1  USB adapter: FT232R USB UART, 0403:6001, serial A1"},
    };
    for (const auto& c : cases) {
        r = Upload({"--port", c.pszSpec, "--output", "station.qmf"}, env);
        EXPECT_EQ(r.nExit, c.nExit) << c.pszSpec << ": " << r.strErr;
        EXPECT_NE(r.strErr.find(c.pszErr), std::string::npos) << c.pszSpec << ": " << r.strErr;
    }

    // {serial} of a port named by its device and of one named by its by-id
    // alias (neither opens on this machine; the file names are in the JSON).
    r = Upload({"-p", "/dev/ttyUSB0", "-p", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0", "-o",
                "{serial}.qmf", "--json"},
               env);
    std::vector<std::string> outputs;
    for (auto& entry : JsonByPort(r.strOut))
        outputs.push_back(entry.second["output"].text);
    std::sort(outputs.begin(), outputs.end());
    EXPECT_EQ(outputs, (std::vector<std::string>{"A0.qmf", "A1.qmf"})) << r.strErr;
}

// On a terminal: one progress line for all ports, redrawn in place with each
// port's percentage and cleared before the closing lines.
TEST_F(UploadToolTest, ATerminalShowsOneProgressLineForAllPorts)
{
    std::vector<std::string> argv = {TCC_UPLOAD, "-o", "{port}.qmf", "-b", "115200"};
    for (int n = 1; n <= 2; ++n)
        argv.insert(argv.end(), {"-p", StartStation(n, {"--baud", "115200", "--size", "12000"})});
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
    const pid_t pid = Spawn(argv, m_dir, -1, ptsname(master));
    const std::string screen = ReadToEnd(master);
    EXPECT_EQ(WaitExit(pid), 0) << screen;
    EXPECT_TRUE(std::regex_search(screen, std::regex(R"(\rpts_\d+ \d+%  pts_\d+ \d+%)"))) << screen;
    EXPECT_TRUE(std::regex_search(screen, std::regex(R"(\r +\rtcc-upload: /dev/pts/\d+: saved 12000 bytes)")))
        << screen;
}

// Started with standard descriptors closed (`>&-`, `2>&-`, as some daemons
// and runners start programs), the files the run opens must not take their
// numbers, or a report lands in an image. The first station is paced and the
// second is not, so the second's lines come while the first's file is open.
TEST_F(UploadToolTest, ClosedStandardDescriptorsLoseNothing)
{
    const std::string slow = StartStation(1, {"--baud", "115200", "--size", "3000", "--seed", "1"});
    const std::string fast = StartStation(2, {"--size", "1000", "--seed", "2"});
    const struct {
        const char* pszName;
        int nClosedMask;
    } cases[] = {{"stdin", 1}, {"stdout", 2}, {"stderr", 4}, {"all three", 7}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        const RunResult r = Upload({"-p", slow, "-p", fast, "-o", "out-{port}.qmf", "--json"}, Closing(c.nClosedMask));
        EXPECT_EQ(r.nExit, 0) << r.strErr;
        std::map<std::string, std::string> files;
        for (const auto& [n, pty] : {std::pair<int, std::string>{1, slow}, {2, fast}}) {
            files[pty] = ReadAll(m_dir + "/out-" + PtyFileName(pty) + ".qmf");
            EXPECT_TRUE(files[pty] == ReadAll(m_dir + "/served-" + std::to_string(n) + ".bin")) << pty;
        }
        if ((c.nClosedMask & 2) == 0) {
            for (auto& [pty, json] : JsonByPort(r.strOut))
                EXPECT_EQ(json["sha256"].text, Sha256Of(files[pty])) << "the digest of the file written";
        }
        EXPECT_EQ(Leftovers().size(), 2u);
        std::system(("rm -f '" + m_dir + "'/out-*").c_str());
        ExpectClosedDescriptorsAreTheNullDevice(c.nClosedMask);
    }
    // The image for a standard output that is closed has nowhere to go: it is
    // refused before the port is opened, not sent to whatever took its place.
    const RunResult r = Upload({"-p", fast, "-o", "-"}, Closing(2));
    EXPECT_EQ(r.nExit, 3) << r.strErr;
    EXPECT_NE(r.strErr.find("cannot write standard output"), std::string::npos) << r.strErr;
    EXPECT_EQ(Occurrences(ReadAll(m_dir + "/sim-2.err"), "served "), 4u) << "the last run opened no port";
}

enum class OutputKind {
    NewFile,
    RegularFile,
    Symlink,
    RelativeSymlink,
    SymlinkChain,
    DanglingSymlink,
    Fifo,
    Socket,
    Device,
    Folder,
    SymlinkToFifo,
    LongName
};

// What --output may name. A link's target is replaced (beside the target,
// where the link points) and the link stays; a dangling link gets its target
// created, as a shell's > would. What cannot hold an image is refused before
// the port opens, and left as it was.
TEST_F(UploadToolTest, EachKindOfOutputIsReplacedOrRefusedAsWhatItIs)
{
    namespace fs = std::filesystem;
    StartSim({"--size", "3000", "--verbose"});
    const std::string image = ReadAll(m_dir + "/served.bin");
    const std::string other = m_dir + "/elsewhere";
    const struct {
        OutputKind nKind;
        const char* pszName;
        int nExit;
        const char* pszRefusal;  // the end of the line that refuses it
    } cases[] = {
        {OutputKind::NewFile, "new file", 0, nullptr},
        {OutputKind::RegularFile, "regular file", 0, nullptr},
        {OutputKind::Symlink, "symlink", 0, nullptr},
        {OutputKind::RelativeSymlink, "relative symlink", 0, nullptr},
        {OutputKind::SymlinkChain, "symlink to a symlink", 0, nullptr},
        {OutputKind::DanglingSymlink, "dangling symlink", 0, nullptr},
        {OutputKind::Fifo, "FIFO", 3, ": it is a FIFO; nothing written\n"},
        {OutputKind::Socket, "socket", 3, ": it is a socket; nothing written\n"},
        {OutputKind::Device, "device node", 3, ": it is a device; nothing written\n"},
        {OutputKind::Folder, "folder", 3, ": it is a folder; nothing written\n"},
        {OutputKind::SymlinkToFifo, "symlink to a FIFO", 3, ": it is a FIFO; nothing written\n"},
        {OutputKind::LongName, "250-character name", 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        fs::create_directories(other);
        std::string output = "station.qmf";
        std::string target = m_dir + "/" + output;  // where the image must land
        const std::string previous = "previous";
        int sock = -1;
        switch (c.nKind) {
        case OutputKind::NewFile: break;
        case OutputKind::RegularFile: std::ofstream(target) << previous; break;
        case OutputKind::Symlink:
        case OutputKind::RelativeSymlink:
        case OutputKind::DanglingSymlink:
            target = other + "/target.qmf";
            if (c.nKind != OutputKind::DanglingSymlink)
                std::ofstream(target) << previous;
            fs::create_symlink(c.nKind == OutputKind::RelativeSymlink ? "elsewhere/target.qmf" : target,
                               m_dir + "/" + output);
            break;
        case OutputKind::SymlinkChain:
            target = other + "/target.qmf";
            std::ofstream(target) << previous;
            fs::create_symlink("target.qmf", other + "/hop.qmf");
            fs::create_symlink(other + "/hop.qmf", m_dir + "/" + output);
            break;
        case OutputKind::Fifo: ASSERT_EQ(mkfifo(target.c_str(), 0644), 0); break;
        case OutputKind::Socket: {
            sock = socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            ASSERT_LT(target.size(), sizeof addr.sun_path);
            std::strcpy(addr.sun_path, target.c_str());
            ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
            break;
        }
        case OutputKind::Device:
            // A node of the null device's numbers: only root may make one.
            if (mknod(target.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
                continue;
            break;
        case OutputKind::Folder: fs::create_directories(target); break;
        case OutputKind::SymlinkToFifo:
            ASSERT_EQ(mkfifo((other + "/pipe").c_str(), 0644), 0);
            fs::create_symlink(other + "/pipe", target);
            target = other + "/pipe";
            break;
        case OutputKind::LongName:
            output = std::string(246, 'n') + ".qmf";
            target = m_dir + "/" + output;
            break;
        }
        const fs::file_type typeBefore = fs::symlink_status(m_dir + "/" + output).type();
        const fs::file_type targetBefore = fs::status(target).type();
        const std::size_t nRequests = Occurrences(ReadAll(m_dir + "/sim.err"), "size request");
        const RunResult r = Upload({"--port", m_pty, "--output", output});
        EXPECT_EQ(r.nExit, c.nExit) << r.strErr;
        EXPECT_EQ(fs::symlink_status(m_dir + "/" + output).type(),
                  typeBefore == fs::file_type::not_found ? fs::file_type::regular : typeBefore)
            << "a link stays a link";
        if (c.pszRefusal) {
            EXPECT_EQ(r.strErr, "tcc-upload: " + m_pty + ": cannot write " + output + c.pszRefusal);
            EXPECT_EQ(fs::status(target).type(), targetBefore) << "left as it was";
            EXPECT_EQ(Occurrences(ReadAll(m_dir + "/sim.err"), "size request"), nRequests) << "no port opened";
        }
        else
            EXPECT_TRUE(ReadAll(target) == image);
        for (const auto& entry : fs::recursive_directory_iterator(m_dir))
            EXPECT_NE(entry.path().extension(), ".tmp") << "a temporary file left: " << entry.path();
        if (sock >= 0)
            close(sock);
        fs::remove_all(other);
        fs::remove_all(m_dir + "/" + output);
    }
}

// One port whose output cannot be written fails on its own, unopened, with
// its JSON line; the others are read and saved.
TEST_F(UploadToolTest, OneBadOutputFailsItsPortAlone)
{
    std::vector<std::string> args = {"--json", "-o", "{port}.qmf"};
    std::vector<std::string> ptys;
    for (int n = 1; n <= 3; ++n) {
        ptys.push_back(StartStation(n, {"--size", "2000", "--seed", std::to_string(n), "--verbose"}));
        args.insert(args.end(), {"-p", ptys.back()});
    }
    ASSERT_EQ(mkdir((m_dir + "/" + PtyFileName(ptys[1]) + ".qmf").c_str(), 0755), 0);
    const RunResult r = Upload(args);
    EXPECT_EQ(r.nExit, 3) << r.strErr;
    auto objects = JsonByPort(r.strOut);
    ASSERT_EQ(objects.size(), 3u) << r.strOut;
    for (int n = 1; n <= 3; ++n) {
        auto& json = objects[ptys[n - 1]];
        const bool bBad = n == 2;
        EXPECT_EQ(json["result"].text, bBad ? "failed" : "saved") << r.strErr;
        EXPECT_EQ(json["error"].text, bBad ? "save_failed" : "") << r.strErr;
        if (!bBad) {
            EXPECT_TRUE(ReadAll(m_dir + "/" + json["output"].text) ==
                        ReadAll(m_dir + "/served-" + std::to_string(n) + ".bin"));
        }
        EXPECT_EQ(Occurrences(ReadAll(m_dir + "/sim-" + std::to_string(n) + ".err"), "size request"), bBad ? 0u : 1u);
    }
    EXPECT_NE(r.strErr.find(": it is a folder; nothing written"), std::string::npos) << r.strErr;
}

// The signals whose default action ends a process (those a fault raises
// aside): each must end the run as Ctrl-C does.
std::vector<int> EndingSignals()
{
    return {SIGHUP,  SIGINT,    SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM,  SIGTERM, SIGSTKFLT,
            SIGXCPU, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGRTMIN, SIGRTMAX};
}

enum class Moment { WaitingForStation, MidTransfer, RetryWait, SavingToAStalledPipe, ReportingToAStalledPipe };

constexpr std::size_t kStalledImage = 200000;  // SavingToAStalledPipe: three pipes' worth

struct MomentCase {
    Moment nMoment;
    const char* pszName;
    friend void PrintTo(const MomentCase& c, std::ostream* pOut) { *pOut << c.pszName; }
};

class SignalTest : public UploadToolTest, public ::testing::WithParamInterface<MomentCase> {
protected:
    // Starts tcc-upload, returns once it has reached the moment under test.
    pid_t ReachMoment();
    void EndMoment()
    {
        if (m_master >= 0)
            close(m_master);
        if (m_stdoutRead >= 0)
            close(m_stdoutRead);
        m_master = m_stdoutRead = -1;
        StopSim();
    }

    // SavingToAStalledPipe, after the signal: once the run has said how much
    // of the image standard output took, the reader reads on. It gets that
    // much (and at most the piece that was under way), not the rest.
    void ExpectTheRestLetGo()
    {
        const std::string head = "tcc-upload: " + m_pty + ": ";
        std::string err;
        EXPECT_TRUE(AwaitFact([&] { return (err = ReadAll(m_dir + "/upload.err")).find(head) != std::string::npos; }));
        std::size_t nRead = 0;
        char buffer[4096];
        pollfd pfd{m_stdoutRead, POLLIN, 0};
        for (ssize_t n = 1; n > 0 && poll(&pfd, 1, 20000) > 0;)
            if ((n = read(m_stdoutRead, buffer, sizeof buffer)) > 0)
                nRead += static_cast<std::size_t>(n);
        EXPECT_LT(nRead, kStalledImage) << "the rest of the image let go";
        std::smatch said;
        ASSERT_TRUE(std::regex_search(err, said,
                                      std::regex(head +
                                                 R"(interrupted while writing the image to standard output; )"
                                                 R"((\d+) of )" +
                                                 std::to_string(kStalledImage) + " bytes written\n")))
            << err;
        const std::size_t nSaid = std::stoul(said[1]);
        EXPECT_GE(nSaid, static_cast<std::size_t>(fcntl(m_stdoutRead, F_GETPIPE_SZ))) << "what filled the pipe";
        EXPECT_GE(nRead, nSaid);
        EXPECT_LE(nRead, nSaid + 4096) << "at most the piece under way beyond what was said";
    }

    int m_master = -1;      // WaitingForStation: the far end of the port, which never answers
    int m_stdoutRead = -1;  // SavingToAStalledPipe: the reader that stopped reading
    termios m_lineBefore{};
};

pid_t SignalTest::ReachMoment()
{
    const std::string err = m_dir + "/upload.err";
    const auto grows = [&](const char* pszWhat, std::size_t n) {
        return AwaitFact([&] { return Occurrences(ReadAll(err), pszWhat) >= n; });
    };
    std::ofstream(err, std::ios::trunc).close();  // what the last run said must not count
    const int outFd = open((m_dir + "/upload.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    switch (GetParam().nMoment) {
    case Moment::WaitingForStation: {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_EQ(grantpt(m_master) | unlockpt(m_master), 0);
        const std::string slave = ptsname(m_master);
        m_lineBefore = LineOf(slave);
        pid = SpawnUpload({"--port", slave, "--output", "station.qmf", "--json"}, outFd);
        // The handlers come before the temporary file.
        EXPECT_TRUE(AwaitFact([&] { return !Leftovers().empty() && CatchesSignal(pid, SIGTERM); }));
        break;
    }
    case Moment::MidTransfer:
        StartSim({"--size", "30000", "--stall-ms", "60000", "--stall-at", "2"});
        pid = SpawnUpload({"--port", m_pty, "--output", "station.qmf", "--json", "--trace"}, outFd);
        // Handed over in turn: once the second chunk is, the first is in the image.
        EXPECT_TRUE(grows("RX to uploader 1024 bytes (data chunk, flag 1", 2));
        break;
    case Moment::RetryWait:
        pid = SpawnUpload({"--port", m_dir + "/no-such-port", "--output", "station.qmf", "--json", "--retries", "1",
                           "--retry-wait", "600"},
                          outFd);
        EXPECT_TRUE(grows("trying again in 600 s", 1));
        break;
    case Moment::ReportingToAStalledPipe: {
        if (m_simPid < 0)
            StartSim({"--size", "3000"});
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        m_stdoutRead = fds[0];
        // Full before the run starts: its JSON line waits behind what nobody reads.
        fcntl(fds[1], F_SETFL, O_NONBLOCK);
        const std::string fill(4096, 'x');
        for (std::size_t n = fill.size(); n > 0; n /= 2)
            while (write(fds[1], fill.data(), n) > 0) {
            }
        fcntl(fds[1], F_SETFL, 0);
        pid = SpawnUpload({"--port", m_pty, "--output", "station.qmf", "--json"}, fds[1]);
        close(fds[1]);
        EXPECT_TRUE(grows(": saved 3000 bytes", 1));
        break;
    }
    case Moment::SavingToAStalledPipe: {
        if (m_simPid < 0)
            StartSim({"--size", std::to_string(kStalledImage)});
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        m_stdoutRead = fds[0];
        pid = SpawnUpload({"--port", m_pty, "--output", "-"}, fds[1]);
        close(fds[1]);
        const int nCapacity = fcntl(fds[0], F_GETPIPE_SZ);
        EXPECT_TRUE(AwaitFact([&] {
            int nQueued = 0;
            return ioctl(fds[0], FIONREAD, &nQueued) == 0 && nQueued >= nCapacity;
        })) << "the image fills the pipe";
        break;
    }
    }
    close(outFd);
    return pid;
}

// Whatever the run is doing, a signal that would end it ends it at once:
// status 130, nothing left on disk but an image saved before it, the report
// saying what came in (or, held by a reader that stopped, that it was lost),
// and a port's line settings as they were.
TEST_P(SignalTest, EachEndingSignalEndsTheRunCleanly)
{
    const Moment nMoment = GetParam().nMoment;
    // A report held by a reader that stopped is this moment's matter, not
    // which signal it is: three of them do, each waiting out the stall.
    const std::vector<int> signals =
        nMoment == Moment::ReportingToAStalledPipe ? std::vector<int>{SIGINT, SIGTERM, SIGHUP} : EndingSignals();
    for (int nSignal : signals) {
        SCOPED_TRACE(strsignal(nSignal));
        const pid_t pid = ReachMoment();
        kill(pid, nSignal);
        if (nMoment == Moment::SavingToAStalledPipe)
            ExpectTheRestLetGo();
        EXPECT_EQ(WaitExitOrKill(pid, 20), 130) << ReadAll(m_dir + "/upload.err");
        const bool bStdoutStalled =
            nMoment == Moment::SavingToAStalledPipe || nMoment == Moment::ReportingToAStalledPipe;
        if (nMoment == Moment::ReportingToAStalledPipe) {
            // Saved before the signal, and kept; its report is what was lost.
            EXPECT_TRUE(ReadAll(m_dir + "/station.qmf") == ReadAll(m_dir + "/served.bin"));
            std::remove((m_dir + "/station.qmf").c_str());
            EXPECT_TRUE(std::regex_search(
                ReadAll(m_dir + "/upload.err"),
                std::regex(
                    R"(\ntcc-upload: interrupted before standard output took the reports; \d+ bytes not written\n$)")))
                << ReadAll(m_dir + "/upload.err");
        }
        for (const std::string& name : Leftovers()) {
            ADD_FAILURE() << "left behind: " << name;
            std::remove((m_dir + "/" + name).c_str());
        }
        if (!bStdoutStalled) {
            auto json = Json({0, "", ReadAll(m_dir + "/upload.out")});
            EXPECT_EQ(json["error"].text, "interrupted");
            if (nMoment == Moment::MidTransfer) {
                EXPECT_GT(json["bytes"].number, 0) << "what the attempt received";
                EXPECT_EQ(static_cast<long>(json["bytes"].number) % 1013, 0);
                EXPECT_EQ(json["baud"].number, 115200);
            }
        }
        if (nMoment == Moment::WaitingForStation) {
            EXPECT_TRUE(SameLine(LineOf(ptsname(m_master)), m_lineBefore)) << "the port's own settings put back";
        }
        if (!bStdoutStalled)
            EndMoment();
        else if (m_stdoutRead >= 0) {
            close(m_stdoutRead);
            m_stdoutRead = -1;
        }
    }
    EndMoment();
}

INSTANTIATE_TEST_SUITE_P(Moments, SignalTest,
                         ::testing::Values(MomentCase{Moment::WaitingForStation, "WaitingForStation"},
                                           MomentCase{Moment::MidTransfer, "MidTransfer"},
                                           MomentCase{Moment::RetryWait, "RetryWait"},
                                           MomentCase{Moment::SavingToAStalledPipe, "SavingToAStalledPipe"},
                                           MomentCase{Moment::ReportingToAStalledPipe, "ReportingToAStalledPipe"}),
                         [](const auto& info) { return std::string(info.param.pszName); });

// What a caller ignores (nohup ignores SIGHUP, a shell's background job
// SIGINT and SIGQUIT) stays ignored.
TEST_F(UploadToolTest, ASignalTheCallerIgnoresStaysIgnored)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
    for (int nSignal : {SIGHUP, SIGINT, SIGQUIT}) {
        SCOPED_TRACE(strsignal(nSignal));
        ChildSetup setup;
        setup.nIgnored = nSignal;
        const pid_t pid = SpawnUpload({"--port", ptsname(master), "--output", "station.qmf"}, -1, setup);
        // Once the handlers are in, the temporary file is made.
        ASSERT_TRUE(AwaitFact([&] { return !Leftovers().empty() && CatchesSignal(pid, SIGTERM); }));
        EXPECT_TRUE(InSignalMask(pid, "SigIgn:", nSignal));
        EXPECT_FALSE(CatchesSignal(pid, nSignal));
        kill(pid, SIGTERM);
        EXPECT_EQ(WaitExitOrKill(pid, 20), 130);
    }
    close(master);
}

// --trace into a standard error nobody reads for now: the links go on, both
// stations are saved and their JSON lines come; what the trace could not
// hold is counted once the error output moves again.
TEST_F(UploadToolTest, ATraceNobodyReadsNeverHoldsUpTheLinks)
{
    std::vector<std::string> args = {"--json", "--trace", "-o", "{port}.qmf"};
    for (int n = 1; n <= 2; ++n)
        args.insert(args.end(), {"-p", StartStation(n, {"--size", "16384", "--seed", std::to_string(n)})});
    int errPipe[2];
    ASSERT_EQ(pipe(errPipe), 0);
    ChildSetup setup;
    setup.errFd = errPipe[1];
    const int outFd = open((m_dir + "/upload.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const pid_t pid = SpawnUpload(args, outFd, setup);
    close(outFd);
    close(errPipe[1]);
    const bool bReported = AwaitFact([&] { return Occurrences(ReadAll(m_dir + "/upload.out"), "\n") == 2; });
    const std::string err = ReadToEnd(errPipe[0]);
    EXPECT_TRUE(bReported);
    EXPECT_EQ(WaitExitOrKill(pid, 20), 0) << err.substr(err.size() > 2000 ? err.size() - 2000 : 0);
    for (auto& [pty, json] : JsonByPort(ReadAll(m_dir + "/upload.out")))
        EXPECT_EQ(json["result"].text, "saved") << pty;
    EXPECT_TRUE(std::regex_search(err, std::regex(R"(tcc-upload: --trace: \d+ dumps \(\d+ bytes\) left out)")))
        << err.substr(err.size() > 2000 ? err.size() - 2000 : 0);
}

}  // namespace
