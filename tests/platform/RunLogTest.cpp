// The run log: whole lines from writers at once, the move at the limit, a
// log moved by another writer meanwhile, what is not a log, and where the log
// is looked for. Natively the writers are processes; under Wine threads,
// each with its own handles.
#include "platform/RunLog.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <process.h>
#include <thread>
#define getpid _getpid
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

std::vector<std::string> ReadLines(const fs::path& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A line of about 100 bytes that says who wrote it and which it is.
std::string Line(char writer, int n)
{
    return "{\"writer\": \"" + std::string(1, writer) + "\", \"n\": " + std::to_string(n) + ", \"pad\": \"" +
           std::string(60, writer) + "\"}";
}

void AppendMany(const std::string& log, char writer, int* pFailures)
{
    for (int n = 0; n < 1000; ++n)
        if (AppendRunLogLine(log, Line(writer, n)) != 0)
            ++*pFailures;
}

#ifdef _WIN32
void AppendAtOnce(const std::string& log)
{
    int nFailuresA = 0, nFailuresB = 0;
    std::thread a(AppendMany, log, 'a', &nFailuresA);
    std::thread b(AppendMany, log, 'b', &nFailuresB);
    a.join();
    b.join();
    EXPECT_EQ(nFailuresA + nFailuresB, 0);
}
#else
void AppendAtOnce(const std::string& log)
{
    std::vector<pid_t> writers;
    for (char writer : {'a', 'b'}) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int nFailures = 0;
            AppendMany(log, writer, &nFailures);
            _exit(nFailures == 0 ? 0 : 1);
        }
        writers.push_back(pid);
    }
    for (pid_t pid : writers) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed, status " << status;
    }
}
#endif

class RunLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A folder of this test's own, made here: another run of the tests
        // at the same time has its own.
        const std::string name = std::string("tcc-runlog-") +
                                 testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
                                 std::to_string(static_cast<long>(getpid())) + "-";
        std::error_code error;
        for (int n = 0; m_folder.empty() && n < 1000; ++n)
            if (fs::create_directory(fs::temp_directory_path() / (name + std::to_string(n)), error))
                m_folder = fs::temp_directory_path() / (name + std::to_string(n));
        ASSERT_FALSE(m_folder.empty()) << "no folder of its own in " << fs::temp_directory_path();
        m_log = (m_folder / "state" / "tcc-upload" / "runs.jsonl").string();
    }
    void TearDown() override
    {
        std::error_code error;
        fs::remove_all(m_folder, error);
    }

    fs::path m_folder;
    std::string m_log;
};

// Two writers append 1000 lines each to a log just under the limit, so that
// one of them moves it mid-way: every line lands whole, once, in one of the
// two files, and each writer's lines keep their order.
TEST_F(RunLogTest, TwoWritersAtOnceLoseAndTearNoLine)
{
    ASSERT_EQ(AppendRunLogLine(m_log, Line('p', 0)), 0u);
    std::ofstream(m_log, std::ios::app | std::ios::binary) << std::string(kRunLogLimit - 200, 'x') << "\n";
    const std::size_t nBefore = ReadLines(m_log).size();
    AppendAtOnce(m_log);
    std::vector<std::string> lines = ReadLines(RunLogOlderPath(m_log));
    ASSERT_GE(lines.size(), nBefore) << "the full log was not moved";
    for (const std::string& line : ReadLines(m_log))
        lines.push_back(line);
    std::map<char, int> next{{'a', 0}, {'b', 0}};
    for (std::size_t i = nBefore; i < lines.size(); ++i) {
        const char writer = lines[i].size() > 13 ? lines[i][12] : '?';
        ASSERT_TRUE(next.count(writer)) << "line " << i << " torn: " << lines[i].substr(0, 80);
        ASSERT_EQ(lines[i], Line(writer, next[writer])) << "line " << i;
        ++next[writer];
    }
    EXPECT_EQ(next['a'], 1000);
    EXPECT_EQ(next['b'], 1000);
}

// The line that takes the log past the limit still goes into it; the next
// moves it over the older generation, so two files at most are kept.
TEST_F(RunLogTest, AFullLogMovesAsideBeforeTheNextLine)
{
    ASSERT_EQ(AppendRunLogLine(RunLogOlderPath(m_log), "older generation"), 0u);
    ASSERT_EQ(AppendRunLogLine(m_log, std::string(kRunLogLimit - 10, 'x')), 0u);
    ASSERT_EQ(AppendRunLogLine(m_log, "over the limit"), 0u);
    EXPECT_EQ(fs::file_size(m_log), kRunLogLimit - 10 + 1 + 15);
    ASSERT_EQ(AppendRunLogLine(m_log, "first of the new"), 0u);
    EXPECT_EQ(ReadLines(m_log), std::vector<std::string>{"first of the new"});
    const std::vector<std::string> older = ReadLines(RunLogOlderPath(m_log));
    ASSERT_EQ(older.size(), 2u);
    EXPECT_EQ(older[1], "over the limit");
}

// Another writer moves the log between this writer's opening it and its
// lock: the line goes to the new log, not after the moved one.
TEST_F(RunLogTest, ALogMovedMeanwhileIsOpenedAgain)
{
    ASSERT_EQ(AppendRunLogLine(m_log, "before the move"), 0u);
    struct Mover {
        std::string log;
        int nCalls = 0;
    } mover{m_log};
    const auto move = [](void* pContext) {
        Mover& m = *static_cast<Mover*>(pContext);
        if (m.nCalls++ > 0)
            return;
        std::rename(m.log.c_str(), RunLogOlderPath(m.log).c_str());
        std::ofstream(m.log, std::ios::binary) << "the other writer's\n";
    };
    ASSERT_EQ(AppendRunLogLine(m_log, "after the move", move, &mover), 0u);
    EXPECT_EQ(ReadLines(RunLogOlderPath(m_log)), std::vector<std::string>{"before the move"});
    EXPECT_EQ(ReadLines(m_log), (std::vector<std::string>{"the other writer's", "after the move"}));
}

// A line an earlier writer left cut short (a full disk, a crash) is ended
// before the next, which stays a line of its own.
TEST_F(RunLogTest, ALineCutShortIsEndedByTheNext)
{
    fs::create_directories(fs::path(m_log).parent_path());
    std::ofstream(m_log, std::ios::binary) << "whole\n{\"cut";
    ASSERT_EQ(AppendRunLogLine(m_log, "next"), 0u);
    EXPECT_EQ(ReadLines(m_log), (std::vector<std::string>{"whole", "{\"cut", "next"}));
}

// What is no log: a file where a folder goes, an empty path, and natively a
// FIFO in the log's place, which must not hold the writer until it is read,
// and a device linked there.
TEST_F(RunLogTest, WhatIsNoLogIsAnErrorNotAWait)
{
    std::ofstream(m_folder / "state") << "a file where the folder goes";
    EXPECT_NE(AppendRunLogLine(m_log, "lost"), 0u);
    EXPECT_NE(AppendRunLogLine("", "nowhere"), 0u);
#ifndef _WIN32
    const std::string fifo = (m_folder / "fifo.jsonl").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_NE(AppendRunLogLine(fifo, "into a pipe"), 0u);
    const std::string device = (m_folder / "device.jsonl").string();
    fs::create_symlink("/dev/null", device);
    EXPECT_NE(AppendRunLogLine(device, "into a device"), 0u);
#endif
}

TEST(RunLogPathTest, WhereTheLogIsLookedFor)
{
    EXPECT_EQ(RunLogOlderPath("/s/runs.jsonl"), "/s/runs.1.jsonl");
#ifdef _WIN32
    const std::string path = RunLogPath();
    const std::string tail = "\\TandrelConfigurationController\\runs.jsonl";
    ASSERT_GT(path.size(), tail.size());
    EXPECT_EQ(path.substr(path.size() - tail.size()), tail);
#else
    struct Row {
        const char* pszState;
        const char* pszHome;
        const char* pszPath;
    };
    const Row rows[] = {
        {"/var/state", "/home/tech", "/var/state/tcc-upload/runs.jsonl"},
        {nullptr, "/home/tech", "/home/tech/.local/state/tcc-upload/runs.jsonl"},
        {"", "/home/tech", "/home/tech/.local/state/tcc-upload/runs.jsonl"},
        {"relative/state", "/home/tech", "/home/tech/.local/state/tcc-upload/runs.jsonl"},
        {nullptr, nullptr, ""},
    };
    const std::string savedState = std::getenv("XDG_STATE_HOME") ? std::getenv("XDG_STATE_HOME") : "";
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    for (const Row& row : rows) {
        row.pszState ? setenv("XDG_STATE_HOME", row.pszState, 1) : unsetenv("XDG_STATE_HOME");
        row.pszHome ? setenv("HOME", row.pszHome, 1) : unsetenv("HOME");
        EXPECT_EQ(RunLogPath(), row.pszPath) << (row.pszState ? row.pszState : "(unset)");
    }
    setenv("XDG_STATE_HOME", savedState.c_str(), 1);
    setenv("HOME", savedHome.c_str(), 1);
#endif
}

}  // namespace
