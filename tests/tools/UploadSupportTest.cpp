// tcc-upload's pieces that need no line: message flattening, the trace's view
// of received bytes, and the file that replaces its target only when complete.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/station-sim/StationSim.h"
#include "tools/tcc-upload/Console.h"
#include "tools/tcc-upload/Platform.h"
#include "tools/tcc-upload/Trace.h"

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

    for (std::size_t nBurst : {stream.size(), std::size_t{1}, std::size_t{3}, std::size_t{7}})
    {
        CTraceScanner scanner;
        std::vector<Piece> pieces;
        for (std::size_t i = 0; i < stream.size(); i += nBurst)
            scanner.Feed(stream.data() + i, std::min(nBurst, stream.size() - i), Collect, &pieces);
        std::vector<Bytes> frames;
        Bytes dropped;
        for (const Piece& p : pieces)
        {
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
        {{0x7F, 0x80, 0x03, 0x01, 0x00, 0x10, 0x91, 0x8C, 0x00, 0x00, 0x7F}, "size request"},
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
        if (DIR* d = opendir(m_dir.c_str()))
        {
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

}  // namespace
