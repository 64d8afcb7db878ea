// tcc-upload against tcc-station-sim on a pty, both as built: exit statuses,
// what is left on disk, and what standard error says.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/tools/FlatJson.h"

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct RunResult {
    int nExit = -1;
    std::string strErr;
    std::string strOut;
};

// Runs a program in dir with stderr captured; stdout goes to outFd (or is
// discarded); env adds NAME=VALUE entries. Returns the child's pid.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& dir, int outFd, const std::string& errPath,
            const std::vector<std::string>& env = {})
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    if (chdir(dir.c_str()) != 0)
        _exit(127);
    for (const std::string& entry : env)
        putenv(const_cast<char*>(entry.c_str()));
    const int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int nullFd = open("/dev/null", O_RDWR);
    dup2(nullFd, 0);
    dup2(outFd >= 0 ? outFd : nullFd, 1);
    dup2(errFd, 2);
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

class UploadToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/tcc-upload-test-XXXXXX";
        ASSERT_NE(mkdtemp(szTemplate), nullptr);
        m_dir = szTemplate;
        // Without this file the serial controller says it uses its defaults.
        std::ofstream(m_dir + "/UploadConfig.ini") << "BAUDRATE=115200\n";
    }
    void TearDown() override
    {
        StopSim();
        std::system(("rm -rf '" + m_dir + "'").c_str());
    }

    // Starts the simulator (unpaced) and waits for its "PTY <path>" line.
    void StartSim(std::vector<std::string> args)
    {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        args.insert(args.begin(), {TCC_STATION_SIM, "--unpaced", "--save-image", m_dir + "/served.bin"});
        m_simPid = Spawn(args, m_dir, fds[1], m_dir + "/sim.err");
        close(fds[1]);
        std::string line;
        char c = 0;
        pollfd pfd{fds[0], POLLIN, 0};
        while (line.find('\n') == std::string::npos && poll(&pfd, 1, 10000) > 0 && read(fds[0], &c, 1) == 1)
            line += c;
        close(fds[0]);
        ASSERT_EQ(line.rfind("PTY /dev/", 0), 0u) << line << ReadAll(m_dir + "/sim.err");
        m_pty = line.substr(4, line.size() - 5);
    }
    int StopSim()
    {
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

    RunResult Upload(const std::vector<std::string>& args, const std::vector<std::string>& env = {})
    {
        std::vector<std::string> argv{TCC_UPLOAD};
        argv.insert(argv.end(), args.begin(), args.end());
        RunResult r;
        const int outFd = open((m_dir + "/upload.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        r.nExit = WaitExit(Spawn(argv, m_dir, outFd, m_dir + "/upload.err", env));
        close(outFd);
        r.strErr = ReadAll(m_dir + "/upload.err");
        r.strOut = ReadAll(m_dir + "/upload.out");
        return r;
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

    // Names in the folder other than the fixture's own files.
    std::vector<std::string> Leftovers() const
    {
        std::vector<std::string> names;
        if (DIR* d = opendir(m_dir.c_str())) {
            while (dirent* e = readdir(d)) {
                const std::string n = e->d_name;
                if (n != "." && n != ".." && n != "UploadConfig.ini" && n != "served.bin" && n != "sim.err" &&
                    n != "upload.err" && n != "upload.out")
                    names.push_back(n);
            }
            closedir(d);
        }
        return names;
    }

    std::string m_dir;
    std::string m_pty;
    pid_t m_simPid = -1;
};

TEST_F(UploadToolTest, UsageErrorsExitTwo)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--port", "/dev/null"},
        {"--output", "x.qmf"},
        {"--port"},
        {"--port", "/dev/null", "--output", "x.qmf", "--bogus"},
        {"--list-ports", "--port", "/dev/null"},
        {"--list-ports", "--json"},
        {"--port", "/dev/null", "--output", "x.qmf", "--retries", "-1", "--json"},
        {"--port", "/dev/null", "--output", "x.qmf", "--retries", "100"},
        {"--port", "/dev/null", "--output", "x.qmf", "--retries", "two"},
        {"--port", "/dev/null", "--output", "x.qmf", "--baud"},
    };
    for (const auto& args : cases) {
        const RunResult r = Upload(args);
        EXPECT_EQ(r.nExit, 2) << r.strErr;
        EXPECT_NE(r.strErr.find("Usage: tcc-upload"), std::string::npos);
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
    EXPECT_TRUE(std::regex_match(
        r.strErr, std::regex(R"(tcc-upload: saved 70000 bytes to station\.qmf in \d+\.\d\d s \(\d+\.\d KiB/s\)\n)")))
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
        {{"--fault", "oversize"}, true, "tcc-upload: Failed to communicate with system\n"},
        {{"--fault", "short-last", "--size", "3000"}, true, "tcc-upload: Failed to communicate with system\n"},
        {{"--fault", "long-chunk", "--size", "3000"}, true, "tcc-upload: Failed to communicate with system\n"},
        {{}, false, "tcc-upload: Unable to open serial port.\n"},
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
        EXPECT_NE(r.strErr.find("nothing written"), std::string::npos) << r.strErr;
        EXPECT_EQ(ReadAll(m_dir + "/station.qmf"), "previous");
        EXPECT_EQ(Leftovers(), std::vector<std::string>{"station.qmf"});
        StopSim();
    }
}

// Whether pid has a handler for nSignal (its SigCgt mask in /proc).
bool CatchesSignal(pid_t pid, int nSignal)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (nSignal - 1)) & 1;
    return false;
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
        EXPECT_EQ(WaitExit(pid), 1) << ReadAll(m_dir + "/upload.err");
        EXPECT_NE(ReadAll(m_dir + "/upload.err").find("interrupted; nothing written"), std::string::npos);
        EXPECT_TRUE(Leftovers().empty());
    }
    close(master);
}

// The line going away mid-transfer ends in the reply timeout (10 s).
TEST_F(UploadToolTest, LineClosedMidTransferExitsOne)
{
    StartSim({"--fault", "close-mid", "--size", "20000"});
    const RunResult r = Upload({"--port", m_pty, "--output", "station.qmf", "--quiet"});
    EXPECT_EQ(r.nExit, 1) << r.strErr;
    EXPECT_NE(r.strErr.find("Failed to communicate with system"), std::string::npos) << r.strErr;
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(UploadToolTest, UnwritableOutputExitsThreeNamingPathAndCause)
{
    // A missing folder is found before the station is asked anything.
    const std::string missing = m_dir + "/no-such-folder/station.qmf";
    RunResult r = Upload({"--port", m_dir + "/no-such-port", "--output", missing});
    EXPECT_EQ(r.nExit, 3) << r.strErr;
    EXPECT_EQ(r.strErr, "tcc-upload: cannot write " + missing + ": No such file or directory\n");

    // A folder in the target's place only fails once the image is in.
    StartSim({"--size", "2000"});
    ASSERT_EQ(mkdir((m_dir + "/taken").c_str(), 0755), 0);
    r = Upload({"--port", m_pty, "--output", "taken", "--quiet"});
    EXPECT_EQ(r.nExit, 3) << r.strErr;
    EXPECT_NE(r.strErr.find("cannot replace taken: Is a directory"), std::string::npos) << r.strErr;
    EXPECT_EQ(Leftovers(), std::vector<std::string>{"taken"});
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
    EXPECT_GE(json["seconds"].number, 0);

    r = Upload({"--port", m_dir + "/no-such-port", "--output", "station.qmf", "--json"});
    EXPECT_EQ(r.nExit, 1) << r.strErr;
    json = Json(r);
    EXPECT_EQ(json["result"].text, "failed");
    EXPECT_EQ(json["message"].text, "Unable to open serial port.");
    EXPECT_EQ(json["baud"].nKind, JsonValue::NUL) << "the port never opened";
    EXPECT_EQ(json["wire_bytes_sent"].number, 0);

    r = Upload({"--port", m_dir + "/no-such-port", "--output", "no-such-folder/x.qmf", "--json"});
    EXPECT_EQ(r.nExit, 3) << r.strErr;
    json = Json(r);
    EXPECT_EQ(json["result"].text, "failed");
    EXPECT_EQ(json["attempts"].number, 0);
    EXPECT_NE(json["message"].text.find("cannot write no-such-folder/x.qmf"), std::string::npos);
}

// --baud replaces UploadConfig.ini and its messages; without it the file
// decides as it does for the window.
TEST_F(UploadToolTest, BaudOptionReplacesTheRateFile)
{
    struct {
        const char* pszFile;  // nullptr: no file
        const char* pszBaud;  // nullptr: no --baud
        double baud;
        const char* pszMessage;  // expected on standard error, nullptr: none
    } const cases[] = {
        {nullptr, "9600", 9600, nullptr},
        {"BAUDRATE=4800\n", "19200", 19200, nullptr},
        {"BAUDRATE=38400\n", "57600", 57600, nullptr},
        {"BAUDRATE=38400\n", nullptr, 38400, nullptr},
        {nullptr, nullptr, 115200, "Using Defaults, Contact Technical Support if communications fail."},
        {"BAUDRATE=4800\n", nullptr, 57600, "BaudRate 4800 Not Supported, Using Defaults."},
    };
    StartSim({"--size", "3000"});
    for (const auto& c : cases) {
        std::remove((m_dir + "/UploadConfig.ini").c_str());
        if (c.pszFile)
            std::ofstream(m_dir + "/UploadConfig.ini") << c.pszFile;
        std::vector<std::string> args = {"--port", m_pty, "--output", "station.qmf", "--json", "--quiet"};
        if (c.pszBaud)
            args.insert(args.end(), {"--baud", c.pszBaud});
        const RunResult r = Upload(args);
        EXPECT_EQ(r.nExit, 0) << r.strErr;
        EXPECT_EQ(Json(r)["baud"].number, c.baud) << r.strOut;
        if (c.pszMessage)
            EXPECT_NE(r.strErr.find(c.pszMessage), std::string::npos) << r.strErr;
        else
            EXPECT_EQ(r.strErr, "");
    }
    EXPECT_TRUE(ReadAll(m_dir + "/station.qmf") == ReadAll(m_dir + "/served.bin"));
}

// Only a failed retrieval is tried again, each time with a new uploader; a
// saved image or a failed save ends the run.
TEST_F(UploadToolTest, RetriesFollowAFailedRetrievalOnly)
{
    struct {
        std::vector<std::string> simArgs;
        std::string strRetries;
        int nExit;
        double attempts;
        std::size_t nServed;
        const char* pszErr;
    } const cases[] = {
        {{"--fault", "oversize", "--first-transfer-only"}, "0", 1, 1, 0, "retrieval failed; nothing written"},
        {{"--fault", "oversize", "--first-transfer-only"}, "2", 0, 2, 1, "; 2 attempts, "},
        {{"--fault", "short-last", "--first-transfer-only"}, "1", 0, 2, 2, "attempt 1 of 2 failed; trying again"},
        {{"--fault", "oversize"}, "2", 1, 3, 0, "retrieval failed after 3 attempts; nothing written"},
        {{}, "3", 0, 1, 1, "saved 3000 bytes"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> simArgs = {"--size", "3000"};
        simArgs.insert(simArgs.end(), c.simArgs.begin(), c.simArgs.end());
        StartSim(simArgs);
        std::remove((m_dir + "/station.qmf").c_str());
        const RunResult r = Upload({"--port", m_pty, "--output", "station.qmf", "--json", "--retries", c.strRetries});
        StopSim();
        EXPECT_EQ(r.nExit, c.nExit) << r.strErr;
        EXPECT_NE(r.strErr.find(c.pszErr), std::string::npos) << r.strErr;
        auto json = Json(r);
        EXPECT_EQ(json["attempts"].number, c.attempts) << r.strErr;
        EXPECT_EQ(Served().size(), c.nServed) << "transfers the station finished";
        if (c.nExit == 0)
            EXPECT_TRUE(ReadAll(m_dir + "/station.qmf") == ReadAll(m_dir + "/served.bin"));
        else {
            EXPECT_EQ(json["message"].text, "Failed to communicate with system");
            EXPECT_TRUE(Leftovers().empty());
        }
    }

    // A save that fails is not a failed retrieval.
    StartSim({"--size", "2000"});
    ASSERT_EQ(mkdir((m_dir + "/taken").c_str(), 0755), 0);
    const RunResult r = Upload({"--port", m_pty, "--output", "taken", "--json", "--retries", "3"});
    StopSim();
    EXPECT_EQ(r.nExit, 3) << r.strErr;
    EXPECT_EQ(Json(r)["attempts"].number, 1);
    EXPECT_EQ(Served().size(), 1u);
}

// TCC_UPLOAD_ROOT puts a made-up /dev/serial/by-id in front of the program,
// whose adapters are links to the simulator's pty.
TEST_F(UploadToolTest, PortAutoTakesTheOneUsbAdapterOrListsThem)
{
    StartSim({"--size", "2000"});
    const std::string root = m_dir + "/root";
    const std::string byId = root + "/dev/serial/by-id";
    ASSERT_EQ(std::system(("mkdir -p '" + byId + "'").c_str()), 0);
    const std::vector<std::string> env = {"TCC_UPLOAD_ROOT=" + root};
    const std::vector<std::string> args = {"--port", "auto", "--output", "station.qmf", "--json"};

    RunResult r = Upload(args, env);
    EXPECT_EQ(r.nExit, 2) << r.strErr;
    EXPECT_NE(r.strErr.find("--port auto needs exactly one USB serial adapter, and there is none"), std::string::npos)
        << r.strErr;
    EXPECT_EQ(r.strOut, "");

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

    ASSERT_EQ(symlink("/dev/null", (byId + "/usb-Other_Adapter-if00").c_str()), 0);
    r = Upload(args, env);
    EXPECT_EQ(r.nExit, 2) << r.strErr;
    EXPECT_NE(
        r.strErr.find("and 2 are present:\n  /dev/null  USB adapter (/dev/serial/by-id/usb-Other_Adapter-if00)\n  " +
                      line + "\n"),
        std::string::npos)
        << r.strErr;
}

}  // namespace
