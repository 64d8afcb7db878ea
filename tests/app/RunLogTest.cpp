// The window's line in the run log at each way a run ends: saved (a new file,
// then the same bytes again), Save As cancelled, a failure, and the window
// closed during the run.
#include <cstdlib>
#include <sstream>

#include "Version.h"
#include "record/Sha256.h"
#include "tests/app/AppTestSupport.h"
#include "tests/tools/FlatJson.h"

namespace {

std::vector<std::map<std::string, JsonValue>> LogLines(const std::string& strPath)
{
    std::vector<std::map<std::string, JsonValue>> lines;
    std::istringstream text(ReadWholeFile(strPath));
    for (std::string line; std::getline(text, line);) {
        std::map<std::string, JsonValue> object;
        EXPECT_TRUE(CFlatJson().Parse(line, &object)) << line;
        lines.push_back(object);
    }
    return lines;
}

enum class RunEnd { saved, savedAgain, saveCancelled, saveFailedThenCancelled, failed, closedWhileRunning };

struct RunLogCase {
    const char* pszName;
    RunEnd nEnd;
    const char* pszResult;
    const char* pszError;  // null: JSON null
    bool bOutput;
    bool bSha256;
    const char* pszChanged;  // "null", "false" or "true"
    const char* pszMessage;  // what the message holds; null: JSON null
};

const RunLogCase kCases[] = {
    {"saved", RunEnd::saved, "saved", nullptr, true, true, "null", nullptr},
    {"savedAgain", RunEnd::savedAgain, "saved", nullptr, true, true, "false", nullptr},
    {"saveCancelled", RunEnd::saveCancelled, "not_saved", nullptr, false, true, "null", "Save As was cancelled"},
    {"saveFailedThenCancelled", RunEnd::saveFailedThenCancelled, "not_saved", nullptr, false, true, "null",
     "no-such-folder/station.qmf. Save As was cancelled"},
    {"failed", RunEnd::failed, "failed", "no_reply", false, false, "null", "The station did not answer."},
    {"closedWhileRunning", RunEnd::closedWhileRunning, "failed", "interrupted", false, false, "null", "interrupted"},
};

class RunLogTest : public AppTest, public ::testing::WithParamInterface<RunLogCase> {};

TEST_P(RunLogTest, EachRunLeavesOneLineThatSaysHowItEnded)
{
    const RunLogCase& c = GetParam();
    const std::vector<std::uint8_t> image(3000, 0x5A);
    const std::string strPath = OutPath("station.qmf");
    if (c.nEnd == RunEnd::savedAgain)
        WriteWholeFile(strPath, std::string(image.begin(), image.end()));
    if (c.nEnd == RunEnd::saveFailedThenCancelled)
        AnswerSaveAsInTurn({OutPath("no-such-folder/station.qmf"), ""});
    else
        AnswerSaveAs(c.nEnd == RunEnd::saveCancelled ? "" : strPath);
    HeadlessSetMessageBoxHandler([](const HeadlessMessageBox&) { return IDOK; });
    RunProgram([&](HWND hDlg) {
        ASSERT_TRUE(HeadlessClick(hDlg, IDC_UPLOAD));
        if (c.nEnd == RunEnd::failed) {
            FakeUploader().dwReceived = 1013;
            FakeUploaderFinish(0);
            ASSERT_EQ(1, HeadlessTick(hDlg));
        }
        else if (c.nEnd != RunEnd::closedWhileRunning) {
            FakeUploaderComplete(image);
            ASSERT_EQ(1, HeadlessTick(hDlg));
        }
        EXPECT_TRUE(HeadlessClick(hDlg, IDCANCEL));
    });

    const auto lines = LogLines(RunLogPath());
    ASSERT_EQ(lines.size(), 1u) << "one line a run";
    auto line = lines[0];
    EXPECT_EQ(line["front_end"].text, "window");
    EXPECT_EQ(line["version"].text, TCC_VERSION);
    EXPECT_EQ(line["time"].text.size(), 20u) << line["time"].text;
    EXPECT_EQ(line["result"].text, c.pszResult);
    EXPECT_EQ(line["port"].text, FakeUploader().portNames.at(0));
    EXPECT_EQ(line["error"].nKind == JsonValue::NUL ? "null" : line["error"].text, c.pszError ? c.pszError : "null");
    if (c.pszMessage == nullptr)
        EXPECT_EQ(line["message"].nKind, JsonValue::NUL) << line["message"].text;
    else
        EXPECT_NE(line["message"].text.find(c.pszMessage), std::string::npos) << "[" << line["message"].text << "]";
    EXPECT_EQ(line["output"].nKind == JsonValue::NUL ? "" : line["output"].text, c.bOutput ? strPath : "");
    EXPECT_EQ(line["sha256"].nKind == JsonValue::NUL ? "" : line["sha256"].text,
              c.bSha256 ? Sha256Hex(image.data(), image.size()) : "");
    const JsonValue& changed = line["changed"];
    EXPECT_EQ(changed.nKind == JsonValue::NUL ? "null" : changed.number != 0 ? "true" : "false", c.pszChanged);
    EXPECT_EQ(line["bytes"].number, c.nEnd == RunEnd::closedWhileRunning ? 0 : c.nEnd == RunEnd::failed ? 1013 : 3000);
    EXPECT_EQ(line["attempts"].number, 1);
    EXPECT_EQ(line["wire_bytes_sent"].number, 22) << "the uploader's own counts";
    EXPECT_EQ(line["line_errors"].Member("framing").number, 2);
    EXPECT_EQ(line["attempt_errors"].items.size(), c.pszError ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Ends, RunLogTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<RunLogCase>& info) { return info.param.pszName; });

// A log that cannot be written costs the run nothing: the image is saved and
// no box speaks of the log.
TEST_F(AppTest, ARunLogThatCannotBeWrittenIsSkipped)
{
    WriteWholeFile(m_strRoot + "/state", "a file where the folder goes");
    const std::vector<std::uint8_t> image(100, 0x11);
    AnswerSaveAs(OutPath("kept.qmf"));
    RunProgram([&](HWND hDlg) {
        UploadImage(hDlg, image);
        EXPECT_EQ("Completed OK", Status(hDlg));
        EXPECT_TRUE(HeadlessClick(hDlg, IDCANCEL));
    });
    EXPECT_EQ(std::string(image.begin(), image.end()), ReadWholeFile(OutPath("kept.qmf")));
    EXPECT_TRUE(HeadlessMessageBoxes().empty());
}

}  // namespace
