// Where the keyboard focus is when a run has ended, and which folder the
// first Save As proposes.
#include <thread>

#include "tests/app/AppTestSupport.h"

namespace {

std::vector<std::uint8_t> Image(std::size_t cb) { return std::vector<std::uint8_t>(cb, 0x3C); }

// A worker's box, as the uploader shows its failure while Upload is disabled.
void ShowBoxFromWorker(const char* pszText)
{
    std::thread worker([pszText] { AppMessageBox(pszText); });
    worker.join();
}

}  // namespace

// Every way a run ends leaves the focus on Upload, so that Enter starts the
// next run rather than pressing whatever control the focus fell to (Cancel,
// which closes the program, after a failure box).
TEST_F(AppTest, EveryRunEndsWithTheFocusOnUpload)
{
    struct Case {
        const char* pszName;
        std::function<void(HWND hDlg)> fnRun;  // from Upload to the tick that ends the run
    };
    const std::string strPath = OutPath("focus.qmf");
    const Case cases[] = {
        {"saved",
         [&](HWND hDlg) {
             AnswerSaveAs(strPath);
             UploadImage(hDlg, Image(10));
         }},
        {"Save As cancelled",
         [](HWND hDlg) {
             AnswerSaveAs("");
             UploadImage(hDlg, Image(10));
         }},
        {"failure box",
         [](HWND hDlg) {
             ASSERT_TRUE(HeadlessClick(hDlg, IDC_UPLOAD));
             ShowBoxFromWorker("Failed to communicate with system");
             FakeUploaderFinish(0);
             ASSERT_EQ(1, HeadlessTick(hDlg));
         }},
        {"port not open",
         [](HWND hDlg) {
             FakeUploader().bFinishOnStart = 1;
             FakeUploader().fnDuringStart = [] { AppMessageBox("Unable to open serial port."); };
             ASSERT_TRUE(HeadlessClick(hDlg, IDC_UPLOAD));
             FakeUploader().bFinishOnStart = 0;
             ASSERT_EQ(1, HeadlessTick(hDlg));
         }},
        {"failed without a box",
         [](HWND hDlg) {
             ASSERT_TRUE(HeadlessClick(hDlg, IDC_UPLOAD));
             FakeUploaderFinish(0);
             ASSERT_EQ(1, HeadlessTick(hDlg));
         }},
    };
    RunProgram([&](HWND hDlg) {
        EXPECT_EQ(IDC_UPLOAD, HeadlessFocusId(hDlg)) << "on opening";
        for (const Case& c : cases) {
            c.fnRun(hDlg);
            EXPECT_TRUE(Ctl(hDlg, IDC_UPLOAD)->bEnabled) << c.pszName;
            EXPECT_EQ(IDC_UPLOAD, HeadlessFocusId(hDlg)) << c.pszName;
        }
    });
    EXPECT_EQ(5, FakeUploader().nDeletes);
}

// The first Save As proposes the remembered name in the user's Documents
// when the name has no folder of its own (the working folder may be Program
// Files); a remembered path keeps its folder.
TEST_F(AppTest, ANameWithoutAFolderIsProposedInDocuments)
{
    const std::string strDocuments = m_strRoot + "/documents";
    struct {
        const char* pszStored;  // Main/Config_File; nullptr: a fresh profile
        std::string strDocuments;
        std::string strProposed;
    } const cases[] = {
        {nullptr, strDocuments, strDocuments + "/default.map"},
        {"station.qmf", strDocuments, strDocuments + "/station.qmf"},
        {"C:\\Sites\\old.qmf", strDocuments, "C:\\Sites\\old.qmf"},
        {"D:old.qmf", strDocuments, "D:old.qmf"},
        {"/srv/sites/old.qmf", strDocuments, "/srv/sites/old.qmf"},
        {nullptr, "", "default.map"},  // Documents unknown: as before
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszStored ? c.pszStored : "fresh");
        HeadlessReset();
        FakeUploaderReset();
        HeadlessSetFolders(m_strRoot + "/appdata", m_strRoot + "/windows");
        HeadlessSetDocumentsFolder(c.strDocuments);
        std::remove(ProfilePath().c_str());
        if (c.pszStored) {
            mkdir((m_strRoot + "/appdata/TandrelConfigurationController").c_str(), 0700);
            WriteWholeFile(ProfilePath(), std::string("[Main]\r\nConfig_File=") + c.pszStored + "\r\n");
        }
        RunProgram([&](HWND hDlg) {
            AnswerSaveAs("");
            UploadImage(hDlg, Image(5));
        });
        ASSERT_EQ(1u, HeadlessSaveAsRequests().size());
        EXPECT_EQ(c.strProposed, HeadlessSaveAsRequests()[0].strInitialPath);
    }
}
