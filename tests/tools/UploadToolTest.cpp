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
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct RunResult {
    int nExit = -1;
    std::string strErr;
};

// Runs a program in dir with stderr captured; stdout goes to outFd (or is
// discarded). Returns the child's pid.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& dir, int outFd, const std::string& errPath)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    if (chdir(dir.c_str()) != 0)
        _exit(127);
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
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR)
    {
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

    RunResult Upload(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv{TCC_UPLOAD};
        argv.insert(argv.end(), args.begin(), args.end());
        RunResult r;
        r.nExit = WaitExit(Spawn(argv, m_dir, -1, m_dir + "/upload.err"));
        r.strErr = ReadAll(m_dir + "/upload.err");
        return r;
    }

    // Names in the folder other than the fixture's own files.
    std::vector<std::string> Leftovers() const
    {
        std::vector<std::string> names;
        if (DIR* d = opendir(m_dir.c_str()))
        {
            while (dirent* e = readdir(d))
            {
                const std::string n = e->d_name;
                if (n != "." && n != ".." && n != "UploadConfig.ini" && n != "served.bin" && n != "sim.err" &&
                    n != "upload.err")
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
    };
    for (const auto& args : cases)
    {
        const RunResult r = Upload(args);
        EXPECT_EQ(r.nExit, 2) << r.strErr;
        EXPECT_NE(r.strErr.find("Usage: tcc-upload"), std::string::npos);
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
    EXPECT_EQ(r.strErr, "tcc-upload: saved 70000 bytes to station.qmf\n");
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
    for (const auto& c : cases)
    {
        std::ofstream(m_dir + "/station.qmf") << "previous";
        std::string port = m_dir + "/no-such-port";
        if (c.bWithSim)
        {
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

}  // namespace
