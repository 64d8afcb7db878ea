// The run log: whole lines from writers at once, the move at the limit, a
// folder that cannot be written, and where the log is looked for.
#include "platform/RunLog.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/fakes/TempFolder.h"

namespace {

std::vector<std::string> ReadLines(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::uintmax_t SizeOf(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<std::uintmax_t>(st.st_size) : 0;
}

// A line of about 100 bytes that says who wrote it and which it is.
std::string Line(char writer, int n)
{
    return "{\"writer\": \"" + std::string(1, writer) + "\", \"n\": " + std::to_string(n) + ", \"pad\": \"" +
           std::string(60, writer) + "\"}";
}

class RunLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_folder = MakeTempFolder("tcc-runlog");
        ASSERT_FALSE(m_folder.empty());
        m_log = m_folder + "/state/tcc-upload/runs.jsonl";
    }
    void TearDown() override { std::system(("chmod -R u+w '" + m_folder + "'; rm -rf '" + m_folder + "'").c_str()); }

    std::string m_folder, m_log;
};

// Two processes append 1000 lines each to a log just under the limit, so
// that one of them moves it mid-way: every line lands whole, once, in one of
// the two files, and each writer's lines keep their order.
TEST_F(RunLogTest, TwoWritersAtOnceLoseAndTearNoLine)
{
    ASSERT_EQ(AppendRunLogLine(m_log, Line('p', 0)), 0u);
    std::ofstream(m_log, std::ios::app) << std::string(kRunLogLimit - 200, 'x') << "\n";
    const std::size_t nBefore = ReadLines(m_log).size();
    std::vector<pid_t> writers;
    for (char writer : {'a', 'b'}) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int n = 0; n < 1000; ++n)
                if (AppendRunLogLine(m_log, Line(writer, n)) != 0)
                    _exit(1);
            _exit(0);
        }
        writers.push_back(pid);
    }
    for (pid_t pid : writers) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed, status " << status;
    }
    std::vector<std::string> lines = ReadLines(RunLogOlderPath(m_log));
    ASSERT_EQ(lines.size() >= nBefore, true) << "the full log was not moved";
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
    EXPECT_EQ(SizeOf(m_log), kRunLogLimit - 10 + 1 + 15);
    ASSERT_EQ(AppendRunLogLine(m_log, "first of the new"), 0u);
    EXPECT_EQ(ReadLines(m_log), std::vector<std::string>{"first of the new"});
    const std::vector<std::string> older = ReadLines(RunLogOlderPath(m_log));
    ASSERT_EQ(older.size(), 2u);
    EXPECT_EQ(older[1], "over the limit");
}

// Root writes any folder, so the folder's place is taken by a file.
TEST_F(RunLogTest, AFolderThatCannotBeMadeIsAnErrorNotACrash)
{
    std::ofstream(m_folder + "/state") << "a file where the folder goes";
    EXPECT_NE(AppendRunLogLine(m_log, "lost"), 0u);
    EXPECT_NE(AppendRunLogLine("", "nowhere"), 0u);
}

TEST(RunLogPathTest, StateHomeThenHome)
{
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
    EXPECT_EQ(RunLogOlderPath("/s/runs.jsonl"), "/s/runs.1.jsonl");
}

}  // namespace
